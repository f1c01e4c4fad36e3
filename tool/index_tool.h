// zarbel-index: builds, rebuilds and checks an NTX index of a table. The program's logic lives
// here so that it can be run in-process; index_main.cpp only passes the command line and the
// standard streams.
//
//   zarbel-index create TABLE INDEX.ntx KEYEXPR [--for EXPR] [--unique] [--desc] [--builder NAME]
//   zarbel-index verify TABLE INDEX.ntx
//   zarbel-index reindex TABLE INDEX.ntx [--builder NAME]
//   each also with [-oem|-win] [--cipher xor|gost|gost1 --password TEXT]; --help | -h | --version
//
// Options may stand anywhere; "--opt VALUE" and "--opt=VALUE" both work and "--" ends them.
// The table is opened for reading only and never changed; INDEX.ntx is written by create and
// reindex and only read by verify. create writes signature 6 and the file's stem (at most 11
// bytes) as the order name; reindex keeps the header's key, FOR, Unique, Desc, order name and
// signature. create refuses, touching nothing, an existing INDEX.ntx that is neither empty nor
// an NTX file, or that is the table or its memo file. verify prints what zarbel-dump --verify
// prints.
//
// Builders: insert (the default: sorted chunks of 65,536 bytes inserted), compact (runs of a
// 65,536-byte block merged bottom-up), and the sorters quick, bintree, redblack, avl, trie,
// merge2, merge4, merge8 (all keys sorted at once, written bottom-up).
//
// Exit status: 0 done; 1 the engine failed (its message on err; create removes its output);
// 2 a parameter error or a refused INDEX.ntx (usage or reason on err).
#pragma once
#include <iosfwd>
#include <string>
#include <vector>

#include "platform/console.h"

namespace zarbel {

int IndexMain(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, ConsoleEncoding encoding);

}  // namespace zarbel
