// JRefusal: why a document was not taken, as a value: what kind of fault,
// and where (the link's place in the document, the block's id and class,
// the port or the entry), beside the one-line reason the error texts give.
// Tools that explain a refusal to a person read these fields; none of them
// needs to take the text apart.
//
// A plain value; any thread may use its own copy.
#pragma once

#include <string>

struct JRefusal {
  enum class Kind {
    None,           // nothing was refused
    Unreadable,     // the file is missing, not a regular file, too large or unreadable
    Malformed,      // not a document: bad JSON, a missing or mistyped field, a NUL byte
    UnknownClass,   // a block of a class that no plug-in registered
    BadEntry,       // a block's stored entry cannot be taken
    MissingOutput,  // a link from an output the block does not have
    MissingInput,   // a link to an input the block does not have
    LinkRefused,    // any other refused link: twice, a cycle, a block's refusal, too long a chain
  };

  Kind kind = Kind::None;
  long long link = -1;   // the link's place in the document's list, -1 when no link
  long long block = -1;  // the id of the block concerned (of a link: the one whose port is missing)
  bool hasBlock = false;  // `block` holds an id (any integer is one)
  std::string className;  // that block's class
  int port = -1;          // the output or input the link asked for
  std::string property;   // the entry, for BadEntry
  std::string text;       // the one-line reason ("link 3: output 25 does not exist on ...")
};
