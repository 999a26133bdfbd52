// The split through the window against the core's run alone, on the same
// input in the same process: shows what the per-heading caption, repaint and
// event processing cost.
//
//   quorrel-window-bench [--rounds N] SOURCE DESTINATION/
//
// Runs the core's run_split and a click on the real frmSave's Split button
// (offscreen, on the tests' scripted desktop, which records message boxes) alternately, N rounds
// (default 5), emptying DESTINATION before each run, and prints each median
// and their ratio. The window's run must stay close to the core's.

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QUrl>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "core/split.h"
#include "platform/backend.h"
#include "tests/support/fake_backend.h"
#include "ui/qt/main_window.h"

namespace {

void empty_folder(const std::string& folder) {
  for (const auto& entry : std::filesystem::directory_iterator(folder)) std::filesystem::remove_all(entry);
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  int rounds = 5;
  std::vector<std::string> operands;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc) rounds = std::max(1, std::atoi(argv[++i]));
    else operands.emplace_back(argv[i]);
  }
  if (operands.size() != 2) {
    std::fprintf(stderr, "usage: quorrel-window-bench [--rounds N] SOURCE DESTINATION/\n");
    return 1;
  }
  const std::string& source = operands[0];
  const std::string& destination = operands[1];
  std::filesystem::create_directories(destination);

  quorrel::testing::fake_backend backend;
  quorrel::platform::ScopedBackend scoped(backend);
  frmSave window;
  window.show();
  window.findChild<QLineEdit*>(QStringLiteral("txtFrom"))->setText(QString::fromStdString(source));
  window.findChild<QLineEdit*>(QStringLiteral("txtTo"))->setText(QString::fromStdString(destination));
  auto* split = window.findChild<QPushButton*>(QStringLiteral("Command1"));

  std::vector<double> core_times, window_times;
  std::int64_t pieces = 0;
  for (int round = 0; round < rounds; ++round) {
    empty_folder(destination);
    QElapsedTimer timer;
    timer.start();
    quorrel::fixed_keywords keywords({"第", "章"});
    pieces = quorrel::run_split({source, destination}, keywords).pieces;
    core_times.push_back(timer.nsecsElapsed() / 1e9);

    empty_folder(destination);
    backend.messages.clear();
    timer.start();
    split->click();
    window_times.push_back(timer.nsecsElapsed() / 1e9);
    if (backend.messages != std::vector<std::string>{"保存完毕"}) {
      std::fprintf(stderr, "the window's split did not finish: %s\n",
                   backend.messages.empty() ? "" : backend.messages.back().c_str());
      return 2;
    }
  }
  empty_folder(destination);
  const double core = median(core_times), through_window = median(window_times);
  std::printf("%lld pieces, %d rounds\n", static_cast<long long>(pieces), rounds);
  std::printf("core run_split      median %.3f s\n", core);
  std::printf("window Command1     median %.3f s\n", through_window);
  std::printf("ratio window / core %.3f\n", through_window / core);
  return 0;
}
