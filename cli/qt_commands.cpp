// play and render: the commands that show the control in a Qt widget.
#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QEvent>
#include <QFileInfo>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <QSaveFile>
#include <QShortcut>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>

#include "cli/commands.h"
#include "cli/control_setup.h"
#include "cli/input.h"
#include "cli/options.h"
#include "cli/output.h"
#include "flipreel/control/load_outcome.h"
#include "flipreel/host/scope.h"
#include "flipreel/platform/files.h"
#include "flipreel/qt/colors.h"
#include "flipreel/qt/flipreel_widget.h"
#include "flipreel/qt/flipreel_widget_p.h"
#include "flipreel/qt/picture_cache.h"

namespace flipreel::cli {

namespace {

constexpr int kMaxTicks = 10000;

// The tool drives the widget's control and host directly: it sets the
// control up as the headless commands do, and delivers ticks one by one.
QtHost& HostOf(FlipreelWidget& w) {
  return FlipreelWidgetPrivate::get(w).host();
}
Flipreel& ControlOf(FlipreelWidget& w) {
  return FlipreelWidgetPrivate::get(w).control();
}
constexpr int kDownloadTimeoutMs = 60000;
// The largest contact sheet we write, in pixels each way.
constexpr int kMaxSheetSide = 32767;

struct ViewOptions : InputOptions {
  std::optional<int> rate;
  std::optional<std::string> background;
};

struct PlayOptions {
  ViewOptions view;
  bool exit_on_finish = false;
};

struct FramesOptions {
  ViewOptions view;  // only the input options, --composed and --classic are offered
  std::string output_dir;
};

struct RenderOptions {
  ViewOptions view;
  std::string output;
  std::optional<int> ticks;
  std::optional<int> columns;
  std::string frames_dir;
};

[[noreturn]] void Fail(const std::string& command, const std::string& line,
                       int status = kExitNotLoaded) {
  std::cerr << PrintableUtf8("flipreel " + command + ": " + line, 1000) << "\n";
  throw CLI::RuntimeError(status);
}

// A colour as the user writes it: a control colour value (decimal or &H
// hexadecimal, &H8000000F for the button face), #RRGGBB, or a colour name.
std::optional<int32_t> ParseColor(const std::string& text) {
  if (const std::optional<double> n = ParseNumber(Utf8ToText(text))) {
    double v = *n;
    if (v != std::floor(v) || v < INT32_MIN || v > UINT32_MAX) return std::nullopt;
    if (v > INT32_MAX) v -= 4294967296.0;  // &H80000000 and above written unsigned
    return static_cast<int32_t>(v);
  }
  const QColor color = QColor::fromString(QString::fromStdString(text));
  if (!color.isValid()) return std::nullopt;
  return ColorValue(color);
}

void AddViewOptions(CLI::App& sub, ViewOptions& o) {
  AddInputOptions(sub, o);
  AddPlayOptions(sub, o);
  AddClassicOption(sub, o);
  sub.add_option("--rate", o.rate, "FrameRate in milliseconds (default: the first frame's delay)")
      ->check(WholeNumber(0, 32767));
  sub.add_option("--background", o.background,
                 "BackColor: #RRGGBB, a colour name, or a colour value such as &H8000000F");
}

// Prepares the Qt application: render always draws offscreen; play needs a
// display and says so when there is none.
std::unique_ptr<QApplication> MakeApplication(const std::string& command, bool offscreen, int& argc,
                                              char** argv) {
  if (QCoreApplication::instance()) return nullptr;  // run in-process by a test
  if (offscreen) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  } else if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
      Fail(command,
           "no display is available (DISPLAY and WAYLAND_DISPLAY are not set); use "
           "\"flipreel render INPUT -o OUT.png\" to render what the control shows into a picture");
    // A display that cannot be opened falls back to offscreen, which is
    // told below, rather than ending the program.
    qputenv("QT_QPA_PLATFORM", qEnvironmentVariableIsEmpty("DISPLAY") ? "wayland;xcb;offscreen"
                                                                      : "xcb;wayland;offscreen");
  }
  // Qt warns on every start when the runtime folder is not set (as for root
  // on a server); a private folder of our own answers for it.
  static PrivateFolder runtime_folder;
  if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
    // Without one, Qt picks a folder itself, and says so.
    (void)Trap(
        [&] { qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(runtime_folder.Make())); });
  }
  auto app = std::make_unique<QApplication>(argc, argv);
  if (!offscreen && (QGuiApplication::platformName() == "offscreen" ||
                     QGuiApplication::platformName() == "minimal"))
    Fail(command,
         "no display could be opened; use \"flipreel render INPUT -o OUT.png\" to render what "
         "the control shows into a picture");
  return app;
}

// Waits until a download that the set-up started has been handed to the
// control, or a message box has said why not, so that the options after the
// load apply to the downloaded GIF.
void WaitForDownload(FlipreelWidget& w, const std::function<bool()>& told) {
  bool finished = false;
  const QMetaObject::Connection done =
      QObject::connect(&w, &FlipreelWidget::ReadFinished, [&] { finished = true; });
  const ScopeExit disconnect([&] { QObject::disconnect(done); });
  QElapsedTimer clock;
  clock.start();
  while (!finished && !told() && clock.elapsed() < kDownloadTimeoutMs)
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
}

// Loads the input into the widget's control as the options say; what went
// wrong is told on stderr. False when the control has nothing to show.
bool SetUp(const std::string& command, FlipreelWidget& w, ViewOptions& o) {
  std::optional<int32_t> back_color;
  if (o.background) {
    back_color = ParseColor(*o.background);
    if (!back_color)
      Fail(command, "--background: \"" + *o.background + "\" is not a colour", kExitUsage);
  }
  std::vector<MessageBoxRequest> boxes;
  o.ApplyMemoryBudget(HostOf(w).memory_budget());
  SetupOptions setup = o.Setup();
  setup.memory_budget = &HostOf(w).memory_budget();
  setup.wait_for_download = [&](Flipreel&, Host&) {
    WaitForDownload(w, [&] { return !boxes.empty(); });
  };
  PreparedInput prepared = PrepareInput(o.input);
  if (prepared.kind != InputKind::kUrl) setup.content = std::move(prepared.bytes);

  HostOf(w).trapped_errors().clear();
  HostOf(w).set_warn_of_classic_look(false);  // told below, naming the option
  SetupResult result;
  {
    // Boxes of the set-up go to the terminal; later ones are shown as usual.
    // The handler holds this function's locals, so it is taken back when the
    // set-up ends, however it ends.
    HostOf(w).set_message_box_handler([&](const MessageBoxRequest& box) {
      boxes.push_back(box);
      return 1;
    });
    const ScopeExit shown_as_usual([&] { HostOf(w).set_message_box_handler(nullptr); });
    result = SetUpControl(ControlOf(w), HostOf(w), o.input, setup);
  }

  // Every line is made printable: names and error texts come from files
  // and servers.
  const std::string prefix = "flipreel " + command + ": ";
  const auto tell = [&](const std::string& line) {
    std::cerr << PrintableUtf8(prefix + line, 1000) << "\n";
  };
  for (const MessageBoxRequest& box : boxes) {
    // The split's message names only the error's number; the host knows why.
    std::string text = box.text.toStdString();
    if (text.rfind("Error No. ", 0) == 0 && HostOf(w).last_picture_error())
      text += "; " + HostOf(w).last_picture_error()->description();
    tell(box.title.toStdString() + ": " + text);
  }
  const std::string input = ShownInput(o.input);
  if (prepared.problem) {
    tell(input + ": " + prepared.reason);
    return false;
  }
  if (result.error) {
    const std::string where = result.kind == InputKind::kSavedForm ? "" : input + ": ";
    tell(where + "error " + std::to_string(result.error->number()) + ": " +
         result.error->description() + (prepared.note.empty() ? "" : "; " + prepared.note));
    return false;
  }
  if (LoadFailure(ControlOf(w), result.error, HostOf(w).trapped_errors())) {
    tell(input + ": " +
         (prepared.kind == InputKind::kUrl && boxes.empty()
              ? "the download did not complete"
              : "the control loaded no frames from it"));
    return false;
  }
  const std::string note =
      ClassicLookNote(ControlOf(w), o.setup.classic ? "leaving out --classic" : "--composed");
  if (!note.empty()) tell(input + ": " + note);
  if (o.rate) w.setFrameRate(*o.rate);
  if (back_color) w.setBackColorValue(*back_color);
  if (w.lastError())
    tell("error " + std::to_string(w.lastError().number) + ": " +
         w.lastError().description.toStdString());
  return true;
}

// Without AutoSize the control keeps its own size, usually too small for the
// GIF: the window opens large enough for every frame at its offset.
void FitToFrames(FlipreelWidget& w) {
  if (w.AutoSize()) return;
  const Flipreel& c = ControlOf(w);
  const float inset = c.BorderStyle() != 0 ? 30.0f : 0.0f;
  float right = 0, bottom = 0;
  for (int32_t i = 0; i <= c.state().LastFrame; ++i) {
    if (!c.imgBuffer().Exists(i)) continue;
    const Image& frame = c.imgBuffer()(i);
    right = std::max(right, frame.left() + frame.width());
    bottom = std::max(bottom, frame.top() + frame.height());
  }
  if (right <= 0 || bottom <= 0) return;
  // Refused, the control keeps its size; the window shows what fits.
  (void)Trap([&] { HostOf(w).Size(right + inset, bottom + inset); });
}

void RunPlay(PlayOptions& p, int& argc, char** argv) {
  const std::unique_ptr<QApplication> app = MakeApplication("play", false, argc, argv);
  QWidget window;
  window.setWindowTitle(QString::fromStdString("flipreel - " + ShownInput(p.view.input)));
  auto* w = new FlipreelWidget(&window);
  if (!SetUp("play", *w, p.view)) throw CLI::RuntimeError(kExitNotLoaded);
  FitToFrames(*w);
  if (w->AutoSize()) {
    // The control sizes itself; the window follows it.
    struct Follow : QObject {
      QWidget* window;
      explicit Follow(QWidget* win) : QObject(win), window(win) {}
      bool eventFilter(QObject* watched, QEvent* e) override {
        if (e->type() == QEvent::Resize) window->resize(static_cast<QWidget*>(watched)->size());
        return false;
      }
    };
    w->installEventFilter(new Follow(&window));
    window.resize(w->size());
  } else {
    // The window's size is the control's: a user's resize reaches it.
    auto* layout = new QVBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(w);
    window.resize(w->size());
  }
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), &window);
  QObject::connect(escape, &QShortcut::activated, &window, &QWidget::close);
  if (p.exit_on_finish)
    QObject::connect(w, &FlipreelWidget::PlayFinished, &window, &QWidget::close);
  if (!w->Playing()) w->StartAnimation();
  window.show();
  if (app) {
    app->exec();
  } else {
    // Run inside an application that already exists: until the window closes.
    QEventLoop loop;
    struct CloseWatch : QObject {
      QEventLoop* loop;
      explicit CloseWatch(QEventLoop* l) : loop(l) {}
      bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Close) loop->quit();
        return false;
      }
    } watch(&loop);
    window.installEventFilter(&watch);
    loop.exec();
  }
}

// The picture format Qt's image writers use for a file name's extension;
// "-" (standard output) and a name without an extension are PNG.
QByteArray OutputFormat(const std::string& path) {
  const QString suffix = QFileInfo(QString::fromStdString(path)).suffix().toLower();
  if (path == "-" || suffix.isEmpty()) return "png";
  const QByteArray format = suffix.toLatin1();
  if (QImageWriter::supportedImageFormats().contains(format)) return format;
  QStringList known;
  for (const QByteArray& f : QImageWriter::supportedImageFormats()) known << QString::fromLatin1(f);
  Fail("render",
       path + ": cannot write ." + suffix.toStdString() + " pictures; the formats are " +
           known.join(", ").toStdString(),
       kExitUsage);
}

// Writes a picture atomically (a temporary file renamed over the path), or
// to standard output for "-". The picture is encoded in memory first, so
// that every write is ours to check and no image library reports a failed
// write itself; only a regular file is ever replaced.
void SavePicture(const QImage& image, const std::string& path, const QByteArray& format,
                 const std::string& command = "render") {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  QImageWriter writer(&buffer, format);
  if (!writer.write(image))
    Fail(command, path + ": the picture cannot be encoded: " + writer.errorString().toStdString(),
         kExitNotWritten);
  const std::string_view encoded(bytes.constData(), static_cast<size_t>(bytes.size()));
  if (path == "-") return WriteOutput(command, std::cout, encoded, std::cerr);
  CheckOutputFile(command, path, std::cerr);
  QSaveFile file(QString::fromStdString(path));
  if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
    Fail(command, path + ": cannot be written: " + file.errorString().toStdString(),
         kExitNotWritten);
}

// What the widget shows, over the window colour a form would show behind a
// transparent control.
QImage Snapshot(FlipreelWidget& w) {
  QImage image(w.size(), QImage::Format_ARGB32_Premultiplied);
  if (image.isNull()) Fail("render", "not enough memory for a picture of the control");
  image.fill(w.palette().color(QPalette::Window));
  w.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
  return image;
}

// Reserves bytes from the control's budget for what the command allocates
// beside its pictures; what does not fit ends the command with the budget's
// reason (error 7, naming the limit).
std::shared_ptr<const void> Reserve(const std::string& command, const MemoryBudget& budget,
                                    int64_t bytes, const std::string& what) {
  try {
    return budget.Reserve(bytes, what);
  } catch (const HostError& e) {
    Fail(command, "error " + std::to_string(e.number()) + ": " + e.description(), kExitNotWritten);
  }
}

// The contact sheet: one cell per tick, `columns` to a row, each cell the
// control's picture with "tick N" below it. Its size is known before the
// first tick (every tick pictures the control at its size), so it is checked
// and reserved from the budget first, and each tick is drawn into it at once.
class ContactSheet {
 public:
  ContactSheet(QSize cell, int ticks, int columns, const QFont& font, const MemoryBudget& budget)
      : cell_(cell.expandedTo(QSize(1, 1))),
        columns_(columns),
        caption_(QFontMetrics(font).height() + 2) {
    const int rows = (ticks + columns - 1) / columns;
    const int64_t width = int64_t{columns} * (cell_.width() + kGap) + kGap;
    const int64_t height = int64_t{rows} * (cell_.height() + caption_ + kGap) + kGap;
    if (width > kMaxSheetSide || height > kMaxSheetSide)
      Fail("render",
           "the contact sheet would be " + std::to_string(width) + " x " + std::to_string(height) +
               " pixels; use fewer --ticks or --columns",
           kExitNotWritten);
    const std::string size = std::to_string(width) + " x " + std::to_string(height);
    reservation_ =
        Reserve("render", budget, width * height * 4, "a contact sheet of " + size + " pixels");
    sheet_ = QImage(static_cast<int>(width), static_cast<int>(height), QImage::Format_RGB32);
    if (sheet_.isNull()) Fail("render", "not enough memory for the contact sheet", kExitNotWritten);
    sheet_.fill(QColor(0xD8, 0xD8, 0xD8));
    painter_.begin(&sheet_);
    painter_.setFont(font);
    painter_.setPen(QColor(0x30, 0x30, 0x30));
  }

  // Draws tick t's picture (from 1) into its cell.
  void Draw(int t, const QImage& picture) {
    const int i = t - 1;
    const int x = kGap + (i % columns_) * (cell_.width() + kGap);
    const int y = kGap + (i / columns_) * (cell_.height() + caption_ + kGap);
    painter_.drawImage(QPoint(x, y), picture, picture.rect() & QRect(QPoint(0, 0), cell_));
    painter_.drawText(QRect(x, y + cell_.height(), cell_.width(), caption_),
                      Qt::AlignLeft | Qt::AlignBottom, QStringLiteral("tick %1").arg(t));
  }

  const QImage& Finish() {
    painter_.end();
    return sheet_;
  }
  QSize cell() const { return cell_; }

 private:
  static constexpr int kGap = 6;
  QSize cell_;
  int columns_;
  int caption_;
  std::shared_ptr<const void> reservation_;
  QImage sheet_;
  QPainter painter_;
};

void RunRender(RenderOptions& r, int& argc, char** argv) {
  const std::unique_ptr<QApplication> app = MakeApplication("render", true, argc, argv);
  const QByteArray format = OutputFormat(r.output);
  CheckOutputFile("render", r.output, std::cerr);
  if (r.frames_dir == "-") MakeOutputFolder("render", r.frames_dir, std::cerr);
  FlipreelWidget w;
  HostOf(w).SetManualTicks(true);  // ticks come one by one, as fast as they render
  if (!SetUp("render", w, r.view)) throw CLI::RuntimeError(kExitNotLoaded);
  FitToFrames(w);
  // Each tick's picture of the control is as large as the control: a frame
  // placed far out (at 65535, 65535) would make it gigabytes.
  const MemoryBudget& budget = HostOf(w).memory_budget();
  if (w.width() > kMaxSheetSide || w.height() > kMaxSheetSide)
    Fail("render", "the control would be " + std::to_string(w.width()) + " x " +
                       std::to_string(w.height()) + " pixels, too large to render (at most " +
                       std::to_string(kMaxSheetSide) + " each way)");
  const std::shared_ptr<const void> snapshot_reservation =
      Reserve("render", budget, int64_t{w.width()} * w.height() * 4,
              "a picture of the control of " + std::to_string(w.width()) + " x " +
                  std::to_string(w.height()) + " pixels");
  if (!w.Playing()) w.StartAnimation();
  HostOf(w).set_message_box_handler([](const MessageBoxRequest& box) {
    std::cerr << PrintableUtf8(
                     "flipreel render: " + box.title.toStdString() + ": " + box.text.toStdString(),
                     1000)
              << "\n";
    return 1;
  });

  const int ticks = r.ticks.value_or(std::max(1, ControlOf(w).state().LastFrame + 1));
  const int columns = std::min(r.columns.value_or(std::min(ticks, 8)), ticks);
  QFont font = QApplication::font();
  font.setPixelSize(11);
  ContactSheet sheet(w.size(), ticks, columns, font, budget);
  const QString frames_dir = QString::fromStdString(r.frames_dir);
  if (!frames_dir.isEmpty()) MakeOutputFolder("render", r.frames_dir, std::cerr);

  int finished_at = 0;
  int delivered = 0;
  QObject::connect(&w, &FlipreelWidget::PlayFinished, [&] { finished_at = delivered + 1; });
  for (int t = 1; t <= ticks; ++t) {
    try {
      HostOf(w).DeliverTick();
    } catch (const HostError& e) {
      Fail("render", "tick " + std::to_string(t) + ": error " + std::to_string(e.number()) + ": " +
                         e.description());
    }
    const QImage picture = Snapshot(w);
    sheet.Draw(t, picture);
    delivered = t;
    if (!frames_dir.isEmpty())
      SavePicture(picture,
                  QDir(frames_dir)
                      .filePath(QStringLiteral("tick-%1.png").arg(t, 4, 10, QChar('0')))
                      .toStdString(),
                  "png");
  }
  SavePicture(sheet.Finish(), r.output, format);
  if (r.output == "-") return;
  std::cout << PrintableUtf8(r.output) << ": " << ticks << " ticks, " << columns
            << " columns, cells of " << sheet.cell().width() << " x " << sheet.cell().height()
            << " pixels";
  if (finished_at) std::cout << "; play finished at tick " << finished_at;
  std::cout << "\n";
  CheckOutput("render", std::cout, std::cerr);
}

// Writes the picture of every frame element, frame-0000.png onwards: the
// images as stored (each its own size), or with Composed the whole pictures.
void RunFrames(FramesOptions& f, int& argc, char** argv) {
  const std::unique_ptr<QApplication> app = MakeApplication("frames", true, argc, argv);
  if (f.output_dir == "-") MakeOutputFolder("frames", f.output_dir, std::cerr);
  FlipreelWidget w;
  HostOf(w).SetManualTicks(true);
  f.view.setup.no_autostart = true;
  if (!SetUp("frames", w, f.view)) throw CLI::RuntimeError(kExitNotLoaded);
  MakeOutputFolder("frames", f.output_dir, std::cerr);
  const QDir dir(QString::fromStdString(f.output_dir));
  const Flipreel& control = ControlOf(w);
  const int32_t count = control.state().LastFrame + 1;
  for (int32_t i = 0; i < count; ++i) {
    int16_t index = static_cast<int16_t>(i);
    const Picture picture = control.GetFrame(index);
    if (picture.IsEmpty()) continue;
    // The frame's paint-ready copy (four bytes a pixel) is reserved from the
    // budget while it is written.
    const std::shared_ptr<const void> reservation =
        Reserve("frames", HostOf(w).memory_budget(),
                int64_t{picture.data()->width()} * picture.data()->height() * 4,
                "a paint copy of frame " + std::to_string(i));
    const QImage image = ToPaintImage(*picture.data());
    if (image.isNull())
      Fail("frames", "not enough memory for frame " + std::to_string(i), kExitNotWritten);
    SavePicture(
        image, dir.filePath(QStringLiteral("frame-%1.png").arg(i, 4, 10, QChar('0'))).toStdString(),
        "png", "frames");
  }
  std::cout << f.output_dir << ": " << count << (count == 1 ? " frame" : " frames")
            << (control.Composed() ? ", composed" : ", as stored") << "\n";
  CheckOutput("frames", std::cout, std::cerr);
}

}  // namespace

void AddQtCommands(CLI::App& app, int& argc, char** argv) {
  {
    auto p = std::make_shared<PlayOptions>();
    CLI::App* sub = app.add_subcommand("play", Description(kQtCommands, "play"));
    AddViewOptions(*sub, p->view);
    sub->add_flag("--exit-on-finish", p->exit_on_finish, "close the window when play finishes");
    sub->footer("The window closes on Escape.");
    sub->callback([p, &argc, argv] { RunPlay(*p, argc, argv); });
  }
  {
    auto r = std::make_shared<RenderOptions>();
    CLI::App* sub = app.add_subcommand("render", Description(kQtCommands, "render"));
    AddViewOptions(*sub, r->view);
    sub->add_option("-o,--output", r->output,
                    "the contact sheet to write; its extension chooses the format (PNG, JPEG, "
                    "BMP, ...); - writes PNG to stdout")
        ->required();
    sub->add_option("--ticks", r->ticks, "ticks to deliver (default: one per frame)")
        ->check(WholeNumber(1, kMaxTicks));
    sub->add_option("--columns", r->columns, "cells per row (default: up to 8)")
        ->check(WholeNumber(1, kMaxTicks));
    sub->add_option("--frames", r->frames_dir, "also write one PNG per tick into this folder");
    sub->callback([r, &argc, argv] { RunRender(*r, argc, argv); });
  }
  {
    auto f = std::make_shared<FramesOptions>();
    CLI::App* sub = app.add_subcommand("frames", Description(kQtCommands, "frames"));
    AddInputOptions(*sub, f->view);
    AddComposedOption(*sub, f->view);
    AddClassicOption(*sub, f->view);
    sub->add_option("-o,--output", f->output_dir, "the folder to write the PNG files into")
        ->required();
    sub->callback([f, &argc, argv] { RunFrames(*f, argc, argv); });
  }
}

}  // namespace flipreel::cli
