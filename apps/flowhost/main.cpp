// flowhost: the host stand-in's headless runner. Runs a dataflow document
// with the plug-ins and the runner's own blocks, shows the node table while
// it runs, and closes every block at the end, on Ctrl-C, SIGTERM and SIGHUP too.
// See RunOptions.cpp (usage text) and FlowRunner.h for what it does.
#include <iostream>
#include <string>
#include <vector>

#include "apps/flowhost/run/FlowRunner.h"
#include "apps/flowhost/run/RunOptions.h"
#include "feed/trace_settings.h"
#include "platform/stop_signal.h"
#include "platform/terminal.h"
#include "platform/terminal_text.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  flowhost::RunOptions options;
  std::string error;
  if (!flowhost::parseRunOptions(args, &options, &error)) {
    std::cerr << "flowhost: " << kw::terminalText(error) << "\n\n" << flowhost::usageText();
    return 2;
  }
  if (options.help) {
    std::cout << flowhost::usageText();
    return 0;
  }
  if (options.version) {
    std::cout << flowhost::versionText();
    return 0;
  }
  // The sniffer's trace log reads its settings from the environment when
  // the plug-in loads; the options take the place of what the environment
  // says. Its file is opened when the run starts the blocks, so that
  // --check, --write-document and a document that fails to load leave
  // logFile.txt as it was.
  {
    std::string problem;
    kw::TraceSettings trace = kw::traceSettingsFromEnvironment(&problem);
    if (!problem.empty()) {
      std::cerr << "flowhost: warning: trace log: " << kw::terminalText(problem)
                << "; the default is taken\n";
    }
    if (options.trace) trace.enabled = *options.trace;
    if (options.traceLimitBytes) trace.limitBytes = *options.traceLimitBytes;
    trace.openAtStartup = true;
    if (const kw::Failure failure = kw::applyTraceSettings(trace)) {
      std::cerr << "flowhost: trace settings: " << failure.text() << "\n";
      return 1;
    }
  }
  // Before anything runs, so that a stop request is never missed.
  if (const kw::Failure failed = kw::StopSignal::install(kw::StopSignal::Repeat::EndProcess)) {
    std::cerr << "flowhost: " << failed.text() << '\n';
    return 1;
  }
  // With the JSON lines on standard output, everything else goes to the
  // error stream, so that the stream stays JSON only.
  if (options.jsonOnStandardOutput()) {
    flowhost::FlowRunner runner(std::cerr, std::cerr);
    return runner.run(options, kw::Terminal::isTerminal(2));
  }
  flowhost::FlowRunner runner(std::cout, std::cerr);
  return runner.run(options, kw::Terminal::isTerminal(1));
}
