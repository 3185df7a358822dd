// The --track form: the picture of the tracks on the map block's pixel grid
// (TrackPicture), drawn from the shared track store; rewritten every few
// seconds on a writer of its own while the tracks change, so that a run
// that ends without closing (killed, power lost) still leaves a recent
// picture, and written once more, whole, at the end.
#include "outputs/FileWriter.h"
#include "outputs/OutputForm.h"
#include "outputs/TrackPicture.h"
#include "outputs/TrackStore.h"

namespace kw_out {

namespace {

class TrackPictureForm final : public OutputForm {
 public:
  TrackPictureForm(const OutputOptions::Picture& options, const TrackStore& tracks)
      : file_(options.file), picture_(tracks) {
    picture_.setMap(options.width, options.height, options.mapName);
  }

  void tick(const OutputTick&) override {}  // the set keeps the tracks
  void rewrite() override { writer_.submit(file_, picture_.toSvg()); }

  void close(Closing* closing) override {
    writer_.drain();  // what it still holds is older than the last picture
    std::string error;
    if (!picture_.write(file_, &error)) {
      closing->failures.push_back(error);
      return;
    }
    std::string written = file_ + " (" + std::to_string(picture_.pointCount()) + " points";
    if (picture_.droppedPoints() > 0) {
      written += ", " + std::to_string(picture_.droppedPoints()) + " dropped";
    }
    closing->written.push_back(written + ")");
  }

 private:
  const std::string file_;
  TrackPicture picture_;
  FileWriter writer_;
};

}  // namespace

std::unique_ptr<OutputForm> makeTrackPicture(const OutputOptions& options, OutputShared& shared,
                                             std::string*) {
  if (options.picture.file.empty()) return nullptr;
  return std::make_unique<TrackPictureForm>(options.picture, shared.tracks());
}

}  // namespace kw_out
