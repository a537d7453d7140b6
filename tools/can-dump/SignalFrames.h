#pragma once
#include <string>

#include "core/CanGeneral.h"
#include "signals/DbcDatabase.h"

// --send-signals 'Message:Signal=value,Signal=Text,...': a frame of the
// database's message with the signals given (physical values or value-table
// texts) and every other bit 0, of the message's length (at most 8) and kind.
// False with `error` naming the message, signal or value that is wrong.
bool ComposeSignalFrame(const TDbcDatabase& database, const std::string& request, TCanFrame& frame, std::string& error);
