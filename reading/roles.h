#pragma once
// AT-SPI roles in the AX vocabulary the technician reads. Any thread.
#include <string>

namespace vimba::lecture {

// From an AtspiRole number: the table's entry, else "AX" + the AT-SPI role name in
// UpperCamelCase ("AXScrollPane"); empty for an invalid role.
std::string roleAX(unsigned role);
// "page tab list" → "PageTabList".
std::string enCamel(const std::string& nom);

}  // namespace vimba::lecture
