#include "directory/directory_schema.h"

#include <ldap_schema.h>

namespace brevonix::directory {

std::string LowerAscii(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

namespace {

std::string_view WithoutOptions(std::string_view name) {
    if (const size_t semi = name.find(';'); semi != std::string_view::npos) name = name.substr(0, semi);
    return name;
}

} // namespace

DirectorySchema DirectorySchema::FromAttributeTypes(const std::vector<std::string>& descriptions) {
    DirectorySchema schema;
    schema.m_types.reserve(descriptions.size());
    for (const std::string& text : descriptions) {
        int code = 0;
        const char* err = nullptr;
        LDAPAttributeType* at = ldap_str2attributetype(text.c_str(), &code, &err, LDAP_SCHEMA_ALLOW_ALL);
        if (!at) continue;
        Type type;
        if (at->at_oid) type.oid = at->at_oid;
        for (char** n = at->at_names; n && *n; ++n)
            type.names.emplace_back(*n);
        if (at->at_syntax_oid) type.syntaxOid = at->at_syntax_oid;
        if (at->at_sup_oid) type.supName = at->at_sup_oid;
        ldap_attributetype_free(at);
        schema.AddType(std::move(type));
    }
    schema.ResolveSyntaxes();
    return schema;
}

DirectorySchema DirectorySchema::BuiltIn() {
    static const struct {
        const char* name;
        const char* syntax;
    } kKnown[] = {
        {"objectGUID", "1.3.6.1.4.1.1466.115.121.1.40"},
        {"objectSid", "1.3.6.1.4.1.1466.115.121.1.40"},
        {"whenCreated", "1.3.6.1.4.1.1466.115.121.1.24"},
        {"whenChanged", "1.3.6.1.4.1.1466.115.121.1.24"},
        {"userAccountControl", "1.3.6.1.4.1.1466.115.121.1.27"},
        {"pwdLastSet", "1.2.840.113556.1.4.906"},
        {"accountExpires", "1.2.840.113556.1.4.906"},
        {"lastLogon", "1.2.840.113556.1.4.906"},
        {"lastLogonTimestamp", "1.2.840.113556.1.4.906"},
        {"badPasswordTime", "1.2.840.113556.1.4.906"},
        {"lockoutTime", "1.2.840.113556.1.4.906"},
        {"nTSecurityDescriptor", "1.2.840.113556.1.4.907"},
        {"distinguishedName", "1.3.6.1.4.1.1466.115.121.1.12"},
        {"member", "1.3.6.1.4.1.1466.115.121.1.12"},
        {"memberOf", "1.3.6.1.4.1.1466.115.121.1.12"},
        {"manager", "1.3.6.1.4.1.1466.115.121.1.12"},
    };
    DirectorySchema schema;
    for (const auto& k : kKnown) {
        Type type;
        type.names.emplace_back(k.name);
        type.syntaxOid = k.syntax;
        schema.AddType(std::move(type));
    }
    schema.ResolveSyntaxes();
    return schema;
}

void DirectorySchema::AddType(Type type) {
    const int id = static_cast<int>(m_types.size());
    // A name defined twice keeps its first definition, as a server would refuse the second.
    if (!type.oid.empty()) m_idByLowerName.emplace(LowerAscii(type.oid), id);
    for (const std::string& n : type.names)
        m_idByLowerName.emplace(LowerAscii(n), id);
    m_types.push_back(std::move(type));
}

void DirectorySchema::ResolveSyntaxes() {
    for (Type& type : m_types) {
        // Follow SUP until a type with a SYNTAX; a loop or a missing SUP gives the default.
        const Type* t = &type;
        for (int hops = 0; t->syntaxOid.empty() && !t->supName.empty() && hops < 64; ++hops) {
            const int sup = TypeId(t->supName);
            if (sup < 0) break;
            t = &m_types[static_cast<size_t>(sup)];
        }
        type.syntax = SyntaxFromOid(t->syntaxOid);
    }
}

int DirectorySchema::TypeId(std::string_view name) const {
    const auto it = m_idByLowerName.find(LowerAscii(WithoutOptions(name)));
    return it == m_idByLowerName.end() ? -1 : it->second;
}

ValueSyntax DirectorySchema::Syntax(int typeId) const {
    if (typeId < 0 || static_cast<size_t>(typeId) >= m_types.size()) return {};
    return m_types[static_cast<size_t>(typeId)].syntax;
}

} // namespace brevonix::directory
