// The output forms of this library, and what they share.
#include "outputs/FileWriter.h"
#include "outputs/OutputForm.h"
#include "outputs/TrackStore.h"

namespace kw_out {

// Each form's maker, in its own file.
std::unique_ptr<OutputForm> makeJsonLines(const OutputOptions&, OutputShared&, std::string*);
std::unique_ptr<OutputForm> makeGpsd(const OutputOptions&, OutputShared&, std::string*);
std::unique_ptr<OutputForm> makeMqtt(const OutputOptions&, OutputShared&, std::string*);
std::unique_ptr<OutputForm> makeGpx(const OutputOptions&, OutputShared&, std::string*);
std::unique_ptr<OutputForm> makeGeoJson(const OutputOptions&, OutputShared&, std::string*);
std::unique_ptr<OutputForm> makeTrackPicture(const OutputOptions&, OutputShared&, std::string*);

const std::vector<OutputMaker>& outputMakers() {
  static const std::vector<OutputMaker> makers = {
      makeJsonLines, makeGpsd, makeMqtt, makeGpx, makeGeoJson, makeTrackPicture,
  };
  return makers;
}

OutputShared::OutputShared(const OutputOptions& options) : options_(options) {}

OutputShared::~OutputShared() = default;

TrackStore& OutputShared::tracks() {
  if (!tracks_) tracks_ = std::make_unique<TrackStore>(options_.trackPoints);
  return *tracks_;
}

FileWriter& OutputShared::files() {
  if (!files_) files_ = std::make_unique<FileWriter>();
  return *files_;
}

}  // namespace kw_out
