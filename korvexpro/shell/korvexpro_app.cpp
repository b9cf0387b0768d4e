#include "shell/korvexpro_app.h"

#include <QApplication>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>

#include "settings/settings.h"
#include "shell/command_icons.h"
#include "shell/dialog_paths.h"
#include "shell/korvexpro_view.h"
#include "shell/main_frame.h"
#include "wendle/fonts.h"

#include <memory>

namespace Kvx {
namespace fs = std::filesystem;

QString GuiUsage() {
  return QStringLiteral(
      "Usage: korvexpro-gui [--config FILE] [PATH...]\n"
      "Opens the KorvexPro desktop program. PATHs are queued for conversion: MapGIS projects (.mpj)\n"
      "with their layers, layer files (.wt .wl .wp .wn .wb), and folders, which are searched for\n"
      "projects.\n"
      "  --config FILE  read and save the settings in FILE instead of the default settings file\n"
      "  --help         show this text\n"
      "  --version      show the program's version\n");
}

GuiArguments ParseGuiArguments(const QStringList& arguments) {
  GuiArguments parsed;
  bool optionsEnd = false;
  for (qsizetype i = 0; i < arguments.size(); ++i) {
    const QString& a = arguments[i];
    if (!optionsEnd && a == QLatin1String("--")) {
      optionsEnd = true;
    } else if (!optionsEnd && (a == QLatin1String("--help") || a == QLatin1String("-h"))) {
      parsed.help = true;
    } else if (!optionsEnd && a == QLatin1String("--version")) {
      parsed.version = true;
    } else if (!optionsEnd && a == QLatin1String("--config")) {
      if (i + 1 >= arguments.size() || arguments[i + 1].isEmpty()) {
        parsed.ok = false;
        parsed.error = QStringLiteral("--config needs a file name");
        return parsed;
      }
      parsed.configFile = arguments[++i];
    } else if (!optionsEnd && a.startsWith(QLatin1String("--config="))) {
      parsed.configFile = a.mid(9);
      if (parsed.configFile.isEmpty()) {
        parsed.ok = false;
        parsed.error = QStringLiteral("--config needs a file name");
        return parsed;
      }
    } else if (!optionsEnd && a.startsWith(QLatin1Char('-')) && a.size() > 1) {
      parsed.ok = false;
      parsed.error = QStringLiteral("unknown option %1").arg(a);
      return parsed;
    } else {
      parsed.paths.append(a);
    }
  }
  return parsed;
}

QString WindowStateFileFor(const fs::path& settingsFile) {
  if (settingsFile.empty()) return {};
  const fs::path state = settingsFile.parent_path() / (settingsFile.stem().string() + "-window.ini");
  return PathText(state.string());
}

namespace {

// SIGTERM and SIGINT (a session that ends, Ctrl-C in the terminal) close the window as its close
// button would, so the settings and the window state are saved; a running batch stops after its
// row. The handler only writes a byte into a pipe that the event loop watches; the pipe's write
// end is the one thing a signal handler can reach, so it lives here for the program's run.
std::atomic<int> signalPipe{-1};

extern "C" void OnQuitSignal(int) {
  const int fd = signalPipe.load();
  if (fd >= 0) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = write(fd, &byte, 1);
  }
}

class QuitSignals {
 public:
  QuitSignals() {
    if (pipe2(fds_, O_CLOEXEC | O_NONBLOCK) != 0) {
      fds_[0] = fds_[1] = -1;
      return;
    }
    signalPipe.store(fds_[1]);
    struct sigaction action {};
    action.sa_handler = OnQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, &oldTerm_);
    sigaction(SIGINT, &action, &oldInt_);
    installed_ = true;
  }
  ~QuitSignals() {
    if (installed_) {
      sigaction(SIGTERM, &oldTerm_, nullptr);
      sigaction(SIGINT, &oldInt_, nullptr);
    }
    signalPipe.store(-1);
    notifier_.reset();
    for (int fd : fds_)
      if (fd >= 0) close(fd);
  }
  QuitSignals(const QuitSignals&) = delete;
  QuitSignals& operator=(const QuitSignals&) = delete;

  void OnSignal(CMainFrame& frame) {
    if (fds_[0] < 0) return;
    notifier_ = std::make_unique<QSocketNotifier>(fds_[0], QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, &frame, [this, &frame] {
      char bytes[16];
      while (read(fds_[0], bytes, sizeof bytes) > 0) {
      }
      frame.CloseWhenIdle();
    });
  }

 private:
  int fds_[2] = {-1, -1};
  bool installed_ = false;
  struct sigaction oldTerm_ {};
  struct sigaction oldInt_ {};
  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace

void QueueStartupPaths(CMainFrame& frame, const QStringList& paths) {
  QStringList files;
  QStringList folders;
  for (const QString& p : paths) {
    const QFileInfo info(p);
    (info.isDir() ? folders : files).append(info.absoluteFilePath());
  }
  if (!files.isEmpty()) frame.View()->AddPaths(files);
  if (!folders.isEmpty()) frame.View()->SearchFolders(folders);
}

int CKorvexProApp::Run(int argc, char** argv) {
  QuitSignals quitSignals;
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("KorvexPro"));
  QApplication::setOrganizationName(QStringLiteral("Halvard"));
  QApplication::setApplicationVersion(ProductVersion());
  QApplication::setWindowIcon(ApplicationIcon());
  QApplication::setDesktopFileName(QStringLiteral("korvexpro-gui"));

  QStringList arguments = QApplication::arguments();
  arguments.removeFirst();
  const GuiArguments parsed = ParseGuiArguments(arguments);
  if (!parsed.ok) {
    std::fprintf(stderr, "korvexpro-gui: %s\n%s", qUtf8Printable(parsed.error), qUtf8Printable(GuiUsage()));
    return 2;
  }
  if (parsed.help) {
    std::fputs(qUtf8Printable(GuiUsage()), stdout);
    return 0;
  }
  if (parsed.version) {
    std::printf("korvexpro-gui %s\n", qUtf8Printable(ProductVersion()));
    return 0;
  }

  QFont font = Wendle::ChineseFont();
  QApplication::setFont(font);

  const fs::path configFile = parsed.configFile.isEmpty() ? DefaultSettingsFile() : fs::path(PathString(parsed.configFile));
  Settings& settings = AppSettings();
  const SettingsLoadResult loaded = LoadSettings(settings, configFile);
  if (!loaded.error.empty()) std::fprintf(stderr, "korvexpro-gui: %s (using the defaults)\n", loaded.error.c_str());
  for (const std::string& warning : loaded.warnings) std::fprintf(stderr, "korvexpro-gui: %s\n", warning.c_str());

  QtShellPrompts prompts;
  CMainFrame frame(settings, prompts, configFile, WindowStateFileFor(configFile));
  frame.RestoreWindowState();
  frame.show();
  quitSignals.OnSignal(frame);

  if (!parsed.paths.isEmpty()) {
    QTimer::singleShot(0, &frame, [&frame, paths = parsed.paths] { QueueStartupPaths(frame, paths); });
  }

  const int status = QApplication::exec();
  const SettingsSaveResult saved = SaveSettings(settings, configFile);
  if (!saved.ok) {
    std::fprintf(stderr, "korvexpro-gui: the settings were not saved: %s\n", saved.error.c_str());
    return status != 0 ? status : 1;
  }
  return status;
}

}  // namespace Kvx
