// The window queue is a template used only by the widgets, so the lock-rule
// build (clang, -Wthread-safety, no widgets) would never see its code. This
// file instantiates every member so that the analysis checks them; it needs
// only Qt Core.
#include "views/WindowQueue.h"

#include <string>

template class TWindowQueue<std::string>;
