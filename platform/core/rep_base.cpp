#include <tk/rep_base.h>

tkRepBase::~tkRepBase() = default;
