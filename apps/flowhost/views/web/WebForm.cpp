#include "apps/flowhost/views/web/WebForm.h"

namespace flowhost {

std::unique_ptr<WebForm> WebForm::open(const JGraph& graph, const Source& source,
                                       const std::string& address, int port, std::string* error) {
  std::unique_ptr<WebForm> form(new WebForm(graph, source));
  if (!form->server_.start(address, port, error)) return nullptr;
  return form;
}

void WebForm::tick(const kw_out::OutputTick& tick) {
  state_.setOutputs(tick.outputsNow);
  server_.publish(state_.take(source_.rows, source_.ports, source_.seconds, source_.ticks));
}

}  // namespace flowhost
