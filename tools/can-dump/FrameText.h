#pragma once
#include <optional>
#include <string>

#include "core/CanGeneral.h"

// Reads a frame written as ID#DATA (hex identifier, up to eight hex byte
// pairs) or ID#R (remote frame). `standard` decides the identifier format and
// its range. Nothing on any error.
std::optional<TCanFrame> ParseFrameText(const std::string& text, bool standard);
