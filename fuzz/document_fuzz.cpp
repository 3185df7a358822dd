// Fuzz target for the document reader. Every block class of the tree is
// known: the host's own (JSourceObj, JProbeObj) and both plug-ins' classes,
// whose sources are built into this program and register as they do when a
// plug-in loads.
//
// For each input: a refused document must give a one-line reason; a read
// one must write a document that reads again and writes identically. The
// blocks are then started, every source output is announced, and they are
// closed. Sniffer blocks are never started and a graph holding one is never
// evaluated: its on off input would start receivers that join multicast
// groups, and a fuzzer does not run in a network namespace of its own.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "feed/KW_OLog.h"
#include "host/JDocument.h"
#include "host/JGraph.h"
#include "host/JModuleObj.h"
#include "host/JSourceObj.h"

namespace {

[[noreturn]] void fault(const char* what, const std::string& detail) {
  std::fprintf(stderr, "document_fuzz: %s\n%s\n", what, detail.c_str());
  std::abort();
}

bool isSniffer(const JModuleObj* block) {
  return std::strcmp(block->className(), "JQNV_packet_sniffer") == 0;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The sniffer's trace log would grow by a few lines with every input.
  olog->close();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::string error;
  std::unique_ptr<JGraph> graph = JDocument::fromText(text, &error);
  if (graph == nullptr) {
    if (error.empty() || error.find('\n') != std::string::npos) fault("bad reason", error);
    return 0;
  }

  const std::string written = JDocument::toText(*graph);
  std::unique_ptr<JGraph> again = JDocument::fromText(written, &error);
  if (again == nullptr) fault("a written document does not read again", error + "\n" + written);
  const std::string rewritten = JDocument::toText(*again);
  if (rewritten != written)
    fault("a document read again writes differently", written + "\n" + rewritten);
  again.reset();

  bool hasSniffer = false;
  for (int i = 0; i < graph->blockCount(); ++i) hasSniffer |= isSniffer(graph->block(i));
  for (int i = 0; i < graph->blockCount(); ++i) {
    if (!isSniffer(graph->block(i))) graph->block(i)->startup();
  }
  if (!hasSniffer) {
    for (int i = 0; i < graph->blockCount(); ++i) {
      if (auto* source = dynamic_cast<JSourceObj*>(graph->block(i))) {
        for (int n = 0; n < source->ogm; ++n) source->broadcast(n);
      }
    }
  }
  for (int i = 0; i < graph->blockCount(); ++i) {
    if (!isSniffer(graph->block(i))) graph->block(i)->close();
  }
  return 0;
}
