#include "RunOptions.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "JClockObj.h"

namespace flowhost {

namespace {

// A number that is the whole text, finite and within (low, high].
bool parseNumber(const std::string& text, double low, double high, double* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(text.c_str(), &end);
  if (errno != 0 || end == text.c_str() || *end != '\0') return false;
  if (!std::isfinite(v) || v <= low || v > high) return false;
  *value = v;
  return true;
}

}  // namespace

std::string usageText() {
  return "usage: flowhost [options] <document>\n"
         "Runs a dataflow document headlessly: loads the plug-ins, makes and restores\n"
         "the blocks, links them, starts them, drives the clock blocks, shows the node\n"
         "table and closes every block at the end (also on Ctrl-C or SIGTERM).\n"
         "\n"
         "  -t, --seconds S      run for S seconds (default: until Ctrl-C or SIGTERM)\n"
         "  -r, --rate HZ        drive every clock block at HZ instead of its own rate\n"
         "                       (the stored rate is kept)\n"
         "  -p, --plugin FILE    load the plug-in FILE (may be repeated)\n"
         "  -P, --plugin-dir DIR look for the default plug-ins in DIR first\n"
         "      --no-default-plugins\n"
         "                       do not load JQNV_packet_sniffer.so and JGeoGridObj.so\n"
         "  -s, --save           write the document back after a successful run\n"
         "      --save-as FILE   write it to FILE instead\n"
         "  -f, --faces DIR      write each block's face as an SVG file into DIR\n"
         "  -k, --track FILE     write the track picture of the nodes (SVG) to FILE\n"
         "      --table MODE     live, plain or off (default: live on a terminal,\n"
         "                       plain otherwise)\n"
         "      --every S        seconds between tables in plain mode (default 1)\n"
         "  -h, --help           show this text\n"
         "\n"
         "Relative \"... file name\" entries of a document are taken relative to the\n"
         "document's folder. The sniffer writes logFile.txt into the current folder.\n";
}

bool parseRunOptions(const std::vector<std::string>& args, RunOptions* options,
                     std::string* error) {
  *options = RunOptions();
  auto fail = [error](const std::string& reason) {
    if (error != nullptr) *error = reason;
    return false;
  };
  for (size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    std::string value;
    bool inlineValue = false;
    if (arg.rfind("--", 0) == 0) {
      const size_t equals = arg.find('=');
      if (equals != std::string::npos) {
        value = arg.substr(equals + 1);
        arg = arg.substr(0, equals);
        inlineValue = true;
      }
    }
    // The value of an option that takes one: inline or the next argument.
    auto takeValue = [&](std::string* out) {
      if (inlineValue) {
        *out = value;
        return true;
      }
      if (i + 1 >= args.size()) return false;
      *out = args[++i];
      return true;
    };
    auto needs = [&](const char* what) { return fail("option " + arg + " needs " + what); };

    if (arg == "-h" || arg == "--help") {
      options->help = true;
    } else if (arg == "-t" || arg == "--seconds") {
      std::string text;
      double v = 0;
      if (!takeValue(&text)) return needs("a number of seconds");
      if (!parseNumber(text, 0.0, RunOptions::kMaxSeconds, &v)) {
        return fail("run time '" + text + "' is not a number of seconds above 0");
      }
      options->seconds = v;
    } else if (arg == "-r" || arg == "--rate") {
      std::string text;
      double v = 0;
      if (!takeValue(&text)) return needs("a rate in Hz");
      if (!parseNumber(text, 0.0, JClockObj::kMaxRate, &v) || !JClockObj::usableRate(v)) {
        char range[64];
        std::snprintf(range, sizeof range, "%g and %g Hz", JClockObj::kMinRate,
                      JClockObj::kMaxRate);
        return fail("clock rate '" + text + "' is not between " + range);
      }
      options->rate = v;
    } else if (arg == "-p" || arg == "--plugin") {
      std::string text;
      if (!takeValue(&text) || text.empty()) return needs("a plug-in file");
      options->plugins.push_back(text);
    } else if (arg == "-P" || arg == "--plugin-dir") {
      std::string text;
      if (!takeValue(&text) || text.empty()) return needs("a folder");
      options->pluginDirs.push_back(text);
    } else if (arg == "--no-default-plugins" && !inlineValue) {
      options->defaultPlugins = false;
    } else if (arg == "-s" || (arg == "--save" && !inlineValue)) {
      options->save = true;
    } else if (arg == "--save-as") {
      if (!takeValue(&options->saveAs) || options->saveAs.empty()) return needs("a file");
    } else if (arg == "-f" || arg == "--faces") {
      if (!takeValue(&options->facesDir) || options->facesDir.empty()) return needs("a folder");
    } else if (arg == "-k" || arg == "--track") {
      if (!takeValue(&options->trackFile) || options->trackFile.empty()) return needs("a file");
    } else if (arg == "--table") {
      std::string text;
      if (!takeValue(&text)) return needs("live, plain or off");
      if (text == "live") options->table = RunOptions::Table::Live;
      else if (text == "plain") options->table = RunOptions::Table::Plain;
      else if (text == "off") options->table = RunOptions::Table::Off;
      else return fail("table mode '" + text + "' is not live, plain or off");
    } else if (arg == "--every") {
      std::string text;
      double v = 0;
      if (!takeValue(&text)) return needs("a number of seconds");
      if (!parseNumber(text, 0.0, RunOptions::kMaxEvery, &v)) {
        return fail("interval '" + text + "' is not a number of seconds above 0");
      }
      options->every = v;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return fail("unknown option '" + args[i] + "'");
    } else if (options->document.empty()) {
      options->document = arg;
    } else {
      return fail("more than one document given ('" + options->document + "', '" + arg + "')");
    }
  }
  if (options->help) return true;
  if (options->document.empty()) return fail("no document given");
  if (options->save && !options->saveAs.empty()) {
    return fail("--save and --save-as cannot be used together");
  }
  return true;
}

}  // namespace flowhost
