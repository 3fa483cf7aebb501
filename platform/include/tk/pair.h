// Two values of one type, e.g. an image point and the plate point it shows.
#ifndef TK_PAIR_H
#define TK_PAIR_H

template <typename T>
struct tkPair {
  tkPair() = default;
  tkPair(const T& firstValue, const T& secondValue) : first(firstValue), second(secondValue) {}

  T first{};
  T second{};
};

template <typename T>
bool operator==(const tkPair<T>& p, const tkPair<T>& q) {
  return p.first == q.first && p.second == q.second;
}
template <typename T>
bool operator!=(const tkPair<T>& p, const tkPair<T>& q) {
  return !(p == q);
}

#endif
