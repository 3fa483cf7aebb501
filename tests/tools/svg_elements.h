// Counting the elements of a parsed SVG document, for the plot tests.
#ifndef CCAL_TESTS_TOOLS_SVG_ELEMENTS_H
#define CCAL_TESTS_TOOLS_SVG_ELEMENTS_H

#include <tinyxml2.h>

#include <string>

// Elements named `name` (of CSS class cssClass, unless it is null) at and after element, and
// inside them, at any depth.
inline int countElements(const tinyxml2::XMLElement* element, const char* name,
                         const char* cssClass) {
  int count = 0;
  for (; element != nullptr; element = element->NextSiblingElement()) {
    const char* cls = element->Attribute("class");
    if (std::string(element->Name()) == name &&
        (cssClass == nullptr || (cls != nullptr && std::string(cls) == cssClass))) {
      ++count;
    }
    count += countElements(element->FirstChildElement(), name, cssClass);
  }
  return count;
}

#endif
