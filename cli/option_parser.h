// OptionParser: the one way the programs (flowhost, nmea_beacon,
// feed_record) read their command lines. Each program lists its options in
// a table; the parser walks the words and hands each option it finds, with
// its value, to the program, and keeps the other words as operands, in
// order. The program checks the values and words its own messages.
//
// Forms read:
//   --name              an option without a value
//   --name=value        a value, for any option that takes one
//   --name value        the next word, for an option that needs a value
//                       (taken whatever it looks like: "--first -1")
//   -x, -x value, -xvalue, -stvalue
//                       short forms, bundled (Style::Bundled only)
//   --                  ends the options: every word after it is an operand
// An option whose value is optional takes it only as --name=value: the
// next word is never its value, so it cannot swallow a following option or
// document (as in GNU tools: "--color=always"). A "-" alone is an operand.
//
// Style::Bundled reads every word that starts with '-' as options
// (flowhost, as getopt_long did). Style::LongOnly reads only "--" words and
// the declared single letters ("-h") as options; any other word, "-x"
// included, is an operand (nmea_beacon and feed_record, whose operands
// may be anything).
//
// A problem ends the walk with a Problem: the option as written and what
// is wrong with it.
// A plain value type; any thread, on its own parser.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace kw_cli {

struct Option {
  enum class Value { None, Required, Optional };
  const char* name;  // long name without "--"
  char letter;       // short form, '\0' for none
  Value value;
  int code;  // what the program tells options apart by
};

// One option as found.
struct Found {
  int code = 0;
  bool hasValue = false;
  std::string value;
  std::string spelled;  // as written: "-t", "--seconds"
  // Where the value stands: args[word].substr(offset), for a program that
  // keeps pointers into its argv.
  size_t word = 0;
  size_t offset = 0;
};

struct Problem {
  enum class Kind {
    None,
    Unknown,          // no such option ("--frobnicate", "-x")
    MissingValue,     // an option that needs a value had none
    UnexpectedValue,  // "--help=yes"
    Refused,          // the program refused the value (its reason is its own)
  };
  Kind kind = Kind::None;
  int code = 0;         // the option's code, for MissingValue and Refused
  std::string spelled;  // the option as written ("--help=yes", "-x", "--seconds")
};

class OptionParser {
 public:
  enum class Style { Bundled, LongOnly };

  OptionParser(std::vector<Option> options, Style style);

  // Called for each option in order; false ends the walk there (a Problem
  // of kind Refused: the program refused the value, with a reason of its
  // own, or has heard enough, as after --help).
  using Take = std::function<bool(const Found& option)>;

  // Walks `args` (without the program's name). True when every option was
  // taken; *operands gets the places in `args` of the other words, in order.
  bool parse(const std::vector<std::string>& args, const Take& take, std::vector<size_t>* operands,
             Problem* problem) const;
  // The same, with the operands as words.
  bool parse(const std::vector<std::string>& args, const Take& take,
             std::vector<std::string>* operands, Problem* problem) const;

 private:
  const Option* byName(const std::string& name) const;
  const Option* byLetter(char letter) const;
  // One "--name[=value]" word at args[*i]; may take the next word too.
  bool longOption(const std::vector<std::string>& args, size_t* i, const Take& take,
                  Problem* problem) const;
  // One "-abc" word at args[*i]; may take the next word too.
  bool shortOptions(const std::vector<std::string>& args, size_t* i, const Take& take,
                    Problem* problem) const;

  std::vector<Option> options_;
  Style style_;
};

}  // namespace kw_cli
