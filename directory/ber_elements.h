// Reading an entry's attributes in place, inside the message the server sent: the search hands out
// views into it instead of copying every value. Only the little of BER that an LDAP entry uses.
#pragma once

#include <cstddef>
#include <string_view>

namespace brevonix::directory {

inline constexpr unsigned char kBerOctetString = 0x04;
inline constexpr unsigned char kBerSequence = 0x30;
inline constexpr unsigned char kBerSet = 0x31;

// Splits off the BER element at the front of `in` (single-octet tags, definite lengths: all that
// LDAP uses): its tag and contents. False, leaving `in` as it was, when `in` does not start with a
// whole element.
inline bool TakeElement(std::string_view& in, unsigned char& tag, std::string_view& contents) {
    if (in.size() < 2) return false;
    const auto first = static_cast<unsigned char>(in[0]);
    if ((first & 0x1F) == 0x1F) return false;
    size_t length = static_cast<unsigned char>(in[1]);
    size_t header = 2;
    if (length & 0x80) {
        const size_t octets = length & 0x7F;
        if (octets == 0 || octets > sizeof(size_t) || in.size() - 2 < octets) return false;
        length = 0;
        for (size_t i = 0; i < octets; ++i)
            length = (length << 8) | static_cast<unsigned char>(in[2 + i]);
        header += octets;
    }
    if (length > in.size() - header) return false;
    tag = first;
    contents = in.substr(header, length);
    in.remove_prefix(header + length);
    return true;
}

// The contents of one attribute of an entry (type, then the set of its values): the type and the
// encoded set. False when it is not that shape.
inline bool SplitAttribute(std::string_view attribute, std::string_view& type, std::string_view& values) {
    unsigned char typeTag = 0, valuesTag = 0;
    return TakeElement(attribute, typeTag, type) && typeTag == kBerOctetString &&
           TakeElement(attribute, valuesTag, values) && valuesTag == kBerSet;
}

} // namespace brevonix::directory
