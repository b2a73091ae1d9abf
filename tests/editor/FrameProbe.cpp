// Constructs one editor frame and reports on stdout what the user would see.
// The library test copies this program into a folder where the signal-processing
// library can be neither loaded nor unpacked.
#include "editor/Tembrix.h"
#include "platform/Application.h"
#include "platform/Dialogs.h"

#include <cstdio>
#include <cstdlib>

namespace {

class Printer : public Dialogs::Responder {
 public:
  void message(const Dialogs::Message& m) override {
    std::printf("message|%s|%s|%s\n", m.text.toUtf8().constData(), m.caption.toUtf8().constData(),
                m.icon == Dialogs::Icon::Error ? "error" : "other");
    std::fflush(stdout);
  }
  std::optional<QString> fileName(const Dialogs::TFileDialog&) override { return std::nullopt; }
};

// Its destructor shows that the process ended through the normal clean-up.
struct CleanUpWitness {
  ~CleanUpWitness() {
    std::printf("clean-up\n");
    std::fflush(stdout);
  }
} witness;

Printer printer;

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  TApplication app(argc, argv);
  Dialogs::setResponder(&printer);
  TFrameTembrix frame;
  std::printf("constructed\n");
  return 0;
}
