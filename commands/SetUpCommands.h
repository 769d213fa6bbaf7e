#pragma once

#include <string>
#include <vector>

namespace kelvara {

// Returns the commands a module must be sent to carry out a generated list, in order: the lines
// beginning "AT+" up to the study lists' single-space line (or to the end of a list without
// one), each cut before the explanation in parentheses it may carry. Banner lines, empty lines
// and the closing guide, whose AT+ lines are examples of later use, are never among them.
std::vector<std::string> SetUpCommands(const std::vector<std::string>& lines);

} // namespace kelvara
