#pragma once
// The second line of "SetCommState function failed (Error: n)" when the driver kept other line
// settings than asked for: which ones, asked for and in effect.
#include "tty/LineCheck.h"

#include <string>
#include <vector>

// `port` as the user named it; empty when nothing was refused (the values themselves were bad).
std::string LineSettingsHint(const std::string &port, const std::vector<TRefusedSetting> &refused);
