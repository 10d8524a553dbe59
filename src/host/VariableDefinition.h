// Applying a variable's definition from the module's variable definitions
// document (resource type 23, id 201) to a host variable.
#pragma once

#include "host/HostInterfaces.h"

#include <msxml2.h>

#include <string>
#include <string_view>

namespace pvt {

inline constexpr int kVariableDefinitionsResourceId = 201;

// Finds the definition of taggedName in the module's document and sets its
// display name, tagged name and, for type "Enum", its labels on the variable.
// Returns 0 when no variable is given or the XML document cannot be created,
// 1 otherwise, whether or not a definition was found.
// Throws std::bad_alloc when text cannot be allocated.
int ApplyVariableDefinition(std::string_view taggedName, IHostVariable* variable);

// The same over the given document text instead of the module's resource.
int ApplyVariableDefinitionFromText(std::string_view taggedName, IHostVariable* variable,
                                    std::string_view documentText);

// The text of the node that path selects under node, or of node itself when
// path is empty; empty text when there is no node, no match or a failure.
std::string ReadNodeText(IXMLDOMNode* node, std::string_view path);

// The module's stored document, up to its first NUL or the resource's end.
std::string_view VariableDefinitionsDocument();

}  // namespace pvt
