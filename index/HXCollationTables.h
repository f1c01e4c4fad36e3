// The weight tables of the built-in collations (generated data, see scripts/gen_collations.py).
// Row t - cltClipper501Rus belongs to collation type t; each row is a permutation of 0..255
// indexed by the byte as stored in the index file.
#pragma once

namespace zarbel::collation_tables {

extern const unsigned char kBuiltinWeights[18][256];

}  // namespace zarbel::collation_tables
