#pragma once
// Second lines of the port's failure messages that come from the line's state: for
// "SetCommState function failed (Error: n)" when the driver kept other line settings than asked
// for (which ones, asked for and in effect), and for a line that went away.
#include "platform/FormatSettings.h"
#include "tty/LineCheck.h"

#include <string>
#include <vector>

// `port` as the user named it; empty when nothing was refused (the values themselves were bad).
// Both in the command line's English or the window's German.
std::string LineSettingsHint(const std::string &port, const std::vector<TRefusedSetting> &refused,
                             TWording wording = TWording::English);

// The second line of "ReadFile function failed (Error: n)" when the line went away under the open
// port: what happened and that the port is closed; `waiting` adds that it opens again by itself.
std::string HangupHint(const std::string &port, bool waiting, TWording wording = TWording::English);
