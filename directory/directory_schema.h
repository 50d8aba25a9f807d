// The attribute types of one directory, as its subschema entry publishes them: which names stand
// for the same attribute, and the syntax each attribute's values are written in.
//
// Read once per bind. Callers look attributes up by any of their names or by OID, without regard to
// case, so that "streetAddress" finds the values a server returns as "street".
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "directory/value_conversion.h"

namespace brevonix::directory {

class DirectorySchema {
public:
    // From the `attributeTypes` values of a subschema entry. Descriptions that cannot be parsed are
    // skipped. A type without a SYNTAX of its own takes its SUP's (followed to any depth).
    static DirectorySchema FromAttributeTypes(const std::vector<std::string>& descriptions);

    // A fallback for a directory whose schema cannot be read: the few well-known binary, time and
    // number attributes of Active Directory, so that a GUID never turns into mangled text.
    static DirectorySchema BuiltIn();

    // The id of the attribute type called `name` (a name or the OID, case ignored; attribute options
    // such as ";binary" or ";range=0-1499" are ignored), or -1 when the schema has no such type.
    int TypeId(std::string_view name) const;
    // The syntax of a type id from TypeId(); a case-ignore string for -1.
    ValueSyntax Syntax(int typeId) const;
    size_t Size() const { return m_types.size(); }

private:
    struct Type {
        std::string oid;
        std::vector<std::string> names;
        std::string syntaxOid;
        std::string supName;
        ValueSyntax syntax;
    };
    void AddType(Type type);
    void ResolveSyntaxes();

    std::vector<Type> m_types;
    std::unordered_map<std::string, int> m_idByLowerName;
};

// ASCII lower-casing of attribute names (attribute descriptions are ASCII by definition).
std::string LowerAscii(std::string_view s);

} // namespace brevonix::directory
