// The --gpx and --geojson forms: the shared track store written as a file,
// replaced whole every few seconds while the tracks change and once more at
// the end, by the shared file writer (never on the runner's thread).
#include "outputs/FileWriter.h"
#include "outputs/OutputForm.h"
#include "outputs/TrackStore.h"

namespace kw_out {

namespace {

class TrackFileForm final : public OutputForm {
 public:
  using Render = void (TrackStore::*)(std::string*) const;

  TrackFileForm(std::string path, Render render, OutputShared& shared)
      : path_(std::move(path)), render_(render), tracks_(shared.tracks()), files_(shared.files()) {}

  void tick(const OutputTick&) override {}  // the set keeps the tracks
  void rewrite() override { submit(); }
  void close(Closing*) override { submit(); }  // the set waits for the writer

 private:
  void submit() {
    std::string text;
    (tracks_.*render_)(&text);
    files_.submit(path_, std::move(text));
  }

  const std::string path_;
  const Render render_;
  const TrackStore& tracks_;
  FileWriter& files_;
};

}  // namespace

std::unique_ptr<OutputForm> makeGpx(const OutputOptions& options, OutputShared& shared,
                                    std::string*) {
  if (options.gpx.empty()) return nullptr;
  return std::make_unique<TrackFileForm>(options.gpx, &TrackStore::appendGpx, shared);
}

std::unique_ptr<OutputForm> makeGeoJson(const OutputOptions& options, OutputShared& shared,
                                        std::string*) {
  if (options.geojson.empty()) return nullptr;
  return std::make_unique<TrackFileForm>(options.geojson, &TrackStore::appendGeoJson, shared);
}

}  // namespace kw_out
