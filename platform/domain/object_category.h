// The category a directory gives an object that arrives without one.
#pragma once

#include <string>
#include <vector>

namespace qel {

// The objectCategory Active Directory fills in on import: the default
// category of the most specific structural class among `objectClasses`
// ("CN=Person,CN=Schema,CN=Configuration,<namingContext>" for a user or a
// contact, "CN=Organizational-Unit,..." for an organizational unit). Empty
// when the object names no class but "top".
std::wstring DefaultObjectCategory(const std::vector<std::wstring>& objectClasses,
                                   const std::wstring& namingContext);

}  // namespace qel
