#include "index/HXCollation.h"

#include <algorithm>

#include "index/HXCollationTables.h"

namespace zarbel {

THXCollation::THXCollation() : Sequence_(IdentitySequence()) {}

std::string THXCollation::IdentitySequence() {
    TCollationWeights w;
    for (int i = 0; i < 256; ++i) w[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
    return SequenceOf(w);
}

std::string THXCollation::SequenceOf(const TCollationWeights& weights) {
    std::string s;
    s.reserve(256 * 4);
    for (std::uint8_t w : weights) {
        s += std::to_string(w);
        s += ';';
    }
    return s;
}

TCollationWeights THXCollation::ParseSequence(const std::string& text) {
    TCollationWeights w;
    for (int i = 0; i < 256; ++i) w[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
    std::size_t pos = 0;
    for (int byte = 0; byte < 256; ++byte) {
        const std::size_t end = text.find(';', pos);
        if (end == std::string::npos) break;  // a last piece without ";" counts for nothing
        // The piece between pos and end: a decimal number of at most three digits up to 255;
        // anything else keeps the byte's weight.
        const std::size_t len = end - pos;
        if (len >= 1 && len <= 3) {
            int v = 0;
            bool digits = true;
            for (std::size_t k = pos; k < end; ++k) {
                const char c = text[k];
                if (c < '0' || c > '9') {
                    digits = false;
                    break;
                }
                v = v * 10 + (c - '0');
            }
            if (digits && v <= 255) w[static_cast<std::size_t>(byte)] = static_cast<std::uint8_t>(v);
        }
        pos = end + 1;
    }
    return w;
}

bool THXCollation::Weights(TCollationWeights& out) const {
    if (Type_ == cltCustom) {
        out = ParseSequence(Sequence_);
        return true;
    }
    if (Type_ < cltClipper501Rus || Type_ > cltHungarian852Collation) return false;
    const unsigned char* row = collation_tables::kBuiltinWeights[Type_ - cltClipper501Rus];
    std::copy(row, row + 256, out.begin());
    return true;
}

}  // namespace zarbel
