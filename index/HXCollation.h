// THXCollation: the collation an index compares its keys under, and the 256-entry weight table
// it stands for. The table is indexed by the OEM (CP866) byte value: a key is weighed byte by
// byte in its CP866 form, whatever the code page of its table.
//
//   cltNone    no weight table: keys compare as bytes
//   cltCustom  the identity table changed by CustomCollatingSequence: every decimal number
//              followed by ";" is the weight of the next byte value (0, 1, 2, ...); a piece
//              that is not a number leaves that byte's weight as it was; a last number without
//              its ";" is ignored
//   the built-in language tables (cltClipper501Rus ... cltHungarian852Collation) are not
//   built in yet: an index under one of them compares as under cltNone, as does any value
//   outside the enumeration.
#pragma once
#include <array>
#include <cstdint>
#include <string>

namespace zarbel {

enum THXCollationTypes : std::uint8_t {
    cltNone,
    cltCustom,
    cltClipper501Rus,
    cltGermanCollation,
    cltFrenchCollation,
    cltSpanishCollation,
    cltItalianCollation,
    cltSwedishCollation,
    cltPortugueseCollation,
    cltNorwegianCollation,
    cltFinnishCollation,
    cltDutchCollation,
    cltDanishCollation,
    cltGreek437Collation,
    cltGreek851Collation,
    cltIcelandic850Collation,
    cltIcelandic861Collation,
    cltPolish852Collation,
    cltHungarianCWICollation,
    cltHungarian852Collation,
};

using TCollationWeights = std::array<std::uint8_t, 256>;

class THXCollation {
public:
    THXCollation();

    THXCollationTypes CollationType() const { return Type_; }
    void SetCollationType(THXCollationTypes t) { Type_ = t; }
    const std::string& CustomCollatingSequence() const { return Sequence_; }
    void SetCustomCollatingSequence(const std::string& s) { Sequence_ = s; }

    // The identity sequence "0;1;2;...;255;".
    static std::string IdentitySequence();
    // A sequence text giving each byte value its weight.
    static std::string SequenceOf(const TCollationWeights& weights);
    // The weight table a sequence text stands for.
    static TCollationWeights ParseSequence(const std::string& text);

    // The weight table in force for the collation type, indexed by the CP866 byte; false when
    // keys compare as bytes (cltNone, a built-in table not available, a value out of range).
    bool Weights(TCollationWeights& out) const;

private:
    THXCollationTypes Type_ = cltNone;
    std::string Sequence_;
};

}  // namespace zarbel
