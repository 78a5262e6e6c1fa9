// The widget's interface: properties, methods, events and NOTIFY signals,
// each forwarded to the control.
#include "flipreel/qt/flipreel_widget.h"

#include <QtGlobal>
#include <utility>

#include "flipreel/host/numbers.h"
#include "flipreel/qt/colors.h"
#include "flipreel/qt/flipreel_widget_p.h"

namespace flipreel {

namespace {

QString ToQString(const Text& text) {
  return QString::fromStdU16String(text);
}

Text ToText(const QString& text) {
  return text.toStdU16String();
}

FlipreelAsyncProp ToQt(const AsyncProp& prop) {
  FlipreelAsyncProp p;
  p.PropertyName = ToQString(prop.PropertyName);
  p.AsyncType = prop.AsyncType;
  p.Target = ToQString(prop.Target);
  p.BytesRead = prop.BytesRead;
  p.BytesMax = prop.BytesMax;
  p.Status = static_cast<int>(prop.Status);
  p.StatusText = ToQString(prop.StatusText);
  if (prop.Failure) {
    p.ErrorNumber = prop.Failure->number();
    p.ErrorDescription = QString::fromStdString(prop.Failure->description());
  } else {
    p.Value = ToQString(prop.ValuePath);
  }
  return p;
}

}  // namespace

// The control's events, turned into the widget's signals.
class FlipreelWidgetPrivate::EventRelay final : public FlipreelEvents {
 public:
  explicit EventRelay(FlipreelWidgetPrivate& d) : d_(d) {}
  void Frame() override { emit d_.q_.Frame(); }
  void ReadFinished() override { emit d_.q_.ReadFinished(); }
  void PlayFinished() override { emit d_.q_.PlayFinished(); }
  void AsyncReadComplete(AsyncProp& prop) override { emit d_.q_.AsyncReadComplete(ToQt(prop)); }
  void AsyncReadProgress(AsyncProp& prop) override { emit d_.q_.AsyncReadProgress(ToQt(prop)); }
  void HitTest(float& x, float& y, int16_t& hit_result) override {
    int16_t* outer = d_.hit_result_;
    d_.hit_result_ = &hit_result;
    emit d_.q_.HitTest(x, y, hit_result);
    const QPointF pixels(x / d_.host_->TwipsPerPixelX(), y / d_.host_->TwipsPerPixelY());
    emit d_.q_.hitTestAt(pixels, hit_result);
    d_.hit_result_ = outer;
  }

 private:
  FlipreelWidgetPrivate& d_;
};

FlipreelWidgetPrivate::FlipreelWidgetPrivate(FlipreelWidget& widget)
    : q_(widget), relay_(std::make_unique<EventRelay>(*this)) {
  host_ = std::make_unique<QtHost>(q_, static_cast<QtSurface&>(*this));
  control_ = std::make_unique<Flipreel>(*host_);
  control_->AddListener(relay_.get());
  control_->InitProperties();
  preparer_.setInterval(0);
  QObject::connect(&preparer_, &QTimer::timeout, [this] { PrepareNextFrame(); });
  RefreshLooks();
  UpdateOpaqueness();
  announced_ = Current();
}

FlipreelWidgetPrivate::~FlipreelWidgetPrivate() {
  // The host's decoder drops what it decodes, so nothing posts to
  // load_finisher_ once it goes.
  control_.reset();
  host_.reset();
}

FlipreelWidget::FlipreelWidget(QWidget* parent)
    : QWidget(parent), d_(std::make_unique<FlipreelWidgetPrivate>(*this)) {}

// A load still pending runs now, with its messages and events, as it would
// have run before the widget went. Its boxes come once the widget has gone:
// the windows around it may be going too, and a box's event loop must not
// run among them.
FlipreelWidget::~FlipreelWidget() {
  if (!d_->LoadPending()) return;
  d_->host_->ShowBoxesLater();
  d_->FinishLoad();
}

// --- errors -------------------------------------------------------------------

void FlipreelWidgetPrivate::Fail(const HostError& error) {
  last_error_ = FlipreelError{error.number(), QString::fromStdString(error.description())};
  emit q_.errorRaised(last_error_.number, last_error_.description);
}

FlipreelError FlipreelWidget::lastError() const {
  d_->FinishLoad();
  return d_->last_error_;
}

void FlipreelWidgetPrivate::HostEventFailed(std::string_view event, const HostError& error) {
  qWarning("Flipreel: the %.*s event failed with error %d: %s", static_cast<int>(event.size()),
           event.data(), error.number(), error.what());
  Fail(error);
}

// --- properties -----------------------------------------------------------------

QString FlipreelWidget::FlipreelFile() const {
  return ToQString(d_->control().FlipreelFile());
}
int FlipreelWidget::FrameRate() const {
  return d_->control().FrameRate();
}
void FlipreelWidget::setFrameRate(int value) {
  d_->Call([&] { d_->control().SetFrameRate(CheckedInt16(value)); });
}
bool FlipreelWidget::AutoSize() const {
  return d_->control().AutoSize();
}
void FlipreelWidget::setAutoSize(bool value) {
  d_->Call([&] { d_->control().SetAutoSize(value); });
}
int FlipreelWidget::Sequence() const {
  return d_->control().Sequence();
}
void FlipreelWidget::setSequence(int value) {
  d_->Call([&] { d_->control().SetSequence(value); });
}
bool FlipreelWidget::Stretch() const {
  return d_->control().Stretch();
}
void FlipreelWidget::setStretch(bool value) {
  d_->Call([&] { d_->control().SetStretch(value); });
}
int FlipreelWidget::BorderColor() const {
  return d_->control().BorderColor();
}
void FlipreelWidget::setBorderColor(int color) {
  d_->Call([&] { d_->control().SetBorderColor(color); });
}
int FlipreelWidget::AutoRewind() const {
  return d_->control().AutoRewind();
}
void FlipreelWidget::setAutoRewind(int value) {
  d_->Call([&] { d_->control().SetAutoRewind(CheckedInt16(value)); });
}
bool FlipreelWidget::Playing() const {
  return d_->control().Playing();
}
void FlipreelWidget::setPlaying(bool value) {
  d_->Call([&] { d_->control().SetPlaying(value); });
}
bool FlipreelWidget::AutoStart() const {
  return d_->control().AutoStart();
}
void FlipreelWidget::setAutoStart(bool value) {
  d_->Call([&] { d_->control().SetAutoStart(value); });
}
int FlipreelWidget::BackColor() const {
  return d_->control().BackColor();
}
void FlipreelWidget::setBackColor(int color) {
  d_->Call([&] { d_->control().SetBackColor(color); });
}
int FlipreelWidget::BackStyle() const {
  return d_->control().BackStyle();
}
void FlipreelWidget::setBackStyle(int value) {
  d_->Call([&] { d_->control().SetBackStyle(value); });
}
QImage FlipreelWidget::BackGroundGraphic() const {
  const Picture picture = d_->control().BackGroundGraphic();
  if (picture.IsEmpty()) return QImage();
  return ToPaintImage(*picture.data());
}
void FlipreelWidget::setBackGroundGraphic(const QImage& image) {
  d_->Call([&] { d_->control().SetBackGroundGraphic(PictureFromImage(image)); });
}
void FlipreelWidget::setBackGroundGraphic(const QPixmap& pixmap) {
  setBackGroundGraphic(pixmap.toImage());
}
int FlipreelWidget::BorderStyle() const {
  return d_->control().BorderStyle();
}
void FlipreelWidget::setBorderStyle(int value) {
  d_->Call([&] { d_->control().SetBorderStyle(value); });
}
int FlipreelWidget::Frames() const {
  return d_->control().Frames();
}
void FlipreelWidget::setFrames(int value) {
  d_->Call([&] { d_->control().SetFrames(CheckedInt16(value)); });
}
int FlipreelWidget::CurrentFrame() const {
  return d_->Call([&] { return int{d_->control().CurrentFrame()}; });
}
void FlipreelWidget::setCurrentFrame(int value) {
  d_->Call([&] { d_->control().SetCurrentFrame(CheckedInt16(value)); });
}
QString FlipreelWidget::GifFromURL() const {
  return ToQString(d_->control().GifFromURL());
}
QString FlipreelWidget::ServerUserName() const {
  return ToQString(d_->control().ServerUserName());
}
void FlipreelWidget::setServerUserName(const QString& value) {
  d_->Call([&] { d_->control().SetServerUserName(ToText(value)); });
}
QString FlipreelWidget::ServerPassword() const {
  return ToQString(d_->control().ServerPassword());
}
void FlipreelWidget::setServerPassword(const QString& value) {
  d_->Call([&] { d_->control().SetServerPassword(ToText(value)); });
}
bool FlipreelWidget::Composed() const {
  return d_->control().Composed();
}
void FlipreelWidget::setComposed(bool value) {
  d_->Call([&] { d_->control().SetComposed(value); });
}

// --- methods --------------------------------------------------------------------

void FlipreelWidget::StartAnimation() {
  d_->Call([&] { d_->control().StartAnimation(); });
}
void FlipreelWidget::StopAnimation() {
  d_->Call([&] { d_->control().StopAnimation(); });
}
void FlipreelWidget::RemoveGif() {
  d_->Call([&] { d_->control().RemoveGif(); });
}
void FlipreelWidget::CancelAsyncRead() {
  d_->Call([&] { d_->control().CancelAsyncRead(); });
}
void FlipreelWidget::ShowAbout() {
  d_->Call([&] { d_->control().ShowAbout(); });
}

float FlipreelWidget::FrameWidth(int frame) {
  return d_->Call([&] {
    int16_t f = CheckedInt16(frame);
    return d_->control().FrameWidth(f);
  });
}
float FlipreelWidget::FrameHeight(int frame) {
  return d_->Call([&] {
    int16_t f = CheckedInt16(frame);
    return d_->control().FrameHeight(f);
  });
}
float FlipreelWidget::FrameLeft(int frame) {
  return d_->Call([&] {
    int16_t f = CheckedInt16(frame);
    return d_->control().FrameLeft(f);
  });
}
float FlipreelWidget::FrameTop(int frame) {
  return d_->Call([&] {
    int16_t f = CheckedInt16(frame);
    return d_->control().FrameTop(f);
  });
}
QImage FlipreelWidget::GetFrame(int frame) {
  return d_->Call([&] {
    int16_t f = CheckedInt16(frame);
    return d_->cache_.Get(d_->control().GetFrame(f));
  });
}

// --- the widget's own -------------------------------------------------------------

bool FlipreelWidget::UserMode() const {
  return d_->host().UserMode();
}
void FlipreelWidget::setUserMode(bool run_time) {
  d_->host().SetUserMode(run_time);
  d_->AnnounceChanges();  // Playing reads differently in a designer
}
qint64 FlipreelWidget::PaintCacheBudget() const {
  return static_cast<qint64>(d_->cache().budget());
}
void FlipreelWidget::setPaintCacheBudget(qint64 bytes) {
  d_->Call([&] {
    if (bytes < 0) Raise(err::kInvalidPropertyValue);
    d_->cache_.SetBudget(static_cast<size_t>(bytes));
  });
}
void FlipreelWidget::setHitResult(int result) {
  d_->Call([&] {
    if (!d_->hit_result_)
      Raise(err::kInvalidCall, "SetHitResult is valid only in a HitTest handler");
    *d_->hit_result_ = CheckedInt16(result);
  });
}
int FlipreelWidget::hitResult() const {
  d_->FinishLoad();
  return d_->hit_result_ ? *d_->hit_result_ : 0;
}

Variant FlipreelWidgetPrivate::Invoke(std::string_view name, CallKind kind,
                                      std::span<Variant> args) {
  const CallScope scope(*this);
  FinishLoad();
  last_error_ = {};
  try {
    return control_->Invoke(name, kind, args);
  } catch (const HostError& e) {
    Fail(e);
    throw;
  }
}

bool FlipreelWidgetPrivate::ReadProperties(const PropertyBag& bag) {
  Call([&] { control_->ReadProperties(bag); });
  Restored();
  return !last_error_;
}

int FlipreelWidgetPrivate::ShownFrame() const {
  const Picture& shown = control_->imgGif().picture();
  if (shown.IsEmpty()) return -1;
  const ImageArray& frames = control_->imgBuffer();
  for (int32_t i = 0; i <= frames.UBound(); ++i)
    if (frames.Exists(i) && frames(i).picture() == shown) return i;
  return -1;
}

bool FlipreelWidget::seeThrough() const {
  return d_->host().surface_back_style() == 0;
}
void FlipreelWidget::setSeeThrough(bool see_through) {
  d_->Call([&] { d_->host().SetSurfaceBackStyle(see_through ? 0 : 1); });
}

QColor FlipreelWidget::backQColor() const {
  return ResolveColor(BackColor(), palette());
}
void FlipreelWidget::setBackQColor(const QColor& color) {
  setBackColor(ColorValue(color));
}
QColor FlipreelWidget::borderQColor() const {
  return ResolveColor(BorderColor(), palette());
}
void FlipreelWidget::setBorderQColor(const QColor& color) {
  setBorderColor(ColorValue(color));
}

// Layouts ask for it from the event loop; a pending load leaves the size as
// it is (a load that resizes the widget is never left pending), but not a
// resize held back meanwhile.
QSize FlipreelWidget::sizeHint() const {
  if (!d_) return QWidget::sizeHint();
  return d_->held_resize_ ? *d_->held_resize_ : d_->host_->surface_pixels();
}

// --- NOTIFY signals ---------------------------------------------------------------

FlipreelWidgetPrivate::Announced FlipreelWidgetPrivate::Current() const {
  const Flipreel& c = *control_;
  Announced a;
  a.FlipreelFile = c.FlipreelFile();
  a.FrameRate = c.FrameRate();
  a.AutoSize = c.AutoSize();
  a.Sequence = c.Sequence();
  a.Stretch = c.Stretch();
  a.BorderColor = c.BorderColor();
  a.AutoRewind = c.AutoRewind();
  a.Playing = c.Playing();
  a.AutoStart = c.AutoStart();
  a.BackColor = c.BackColor();
  a.BackStyle = c.BackStyle();
  a.BackGroundGraphic = c.imgBackGround().picture().data();
  a.BorderStyle = c.BorderStyle();
  a.Frames = c.Frames();
  // The frame index itself: CurrentFrame refuses an index beyond 16 bits.
  a.CurrentFrame = c.state().FrameIndex;
  a.GifFromURL = c.GifFromURL();
  a.ServerUserName = c.ServerUserName();
  a.ServerPassword = c.ServerPassword();
  a.Composed = c.Composed();
  a.UserMode = host_->UserMode();
  a.PaintCacheBudget = static_cast<qint64>(cache_.budget());
  a.ShowMessageBoxes = host_->show_message_boxes();
  a.SeeThrough = host_->surface_back_style() == 0;
  a.Shown = c.imgGif().picture().data();
  return a;
}

void FlipreelWidgetPrivate::AnnounceChanges() {
  if (!control_) return;
  // Recorded before any signal goes out, so that a slot that changes a value
  // again announces only its own change.
  const Announced now = Current();
  const Announced was = std::exchange(announced_, now);
  FlipreelWidget& q = q_;
  if (now.FlipreelFile != was.FlipreelFile) emit q.FlipreelFileChanged(ToQString(now.FlipreelFile));
  if (now.FrameRate != was.FrameRate) emit q.FrameRateChanged(now.FrameRate);
  if (now.AutoSize != was.AutoSize) emit q.AutoSizeChanged(now.AutoSize);
  if (now.Sequence != was.Sequence) emit q.SequenceChanged(now.Sequence);
  if (now.Stretch != was.Stretch) emit q.StretchChanged(now.Stretch);
  if (now.BorderColor != was.BorderColor) emit q.BorderColorChanged(now.BorderColor);
  if (now.AutoRewind != was.AutoRewind) emit q.AutoRewindChanged(now.AutoRewind);
  if (now.Playing != was.Playing) emit q.PlayingChanged(now.Playing);
  if (now.AutoStart != was.AutoStart) emit q.AutoStartChanged(now.AutoStart);
  if (now.BackColor != was.BackColor) emit q.BackColorChanged(now.BackColor);
  if (now.BackStyle != was.BackStyle) emit q.BackStyleChanged(now.BackStyle);
  if (now.BackGroundGraphic != was.BackGroundGraphic)
    emit q.BackGroundGraphicChanged(q.BackGroundGraphic());
  if (now.BorderStyle != was.BorderStyle) emit q.BorderStyleChanged(now.BorderStyle);
  if (now.Frames != was.Frames) emit q.FramesChanged(now.Frames);
  if (now.CurrentFrame != was.CurrentFrame) emit q.CurrentFrameChanged(now.CurrentFrame);
  if (now.GifFromURL != was.GifFromURL) emit q.GifFromURLChanged(ToQString(now.GifFromURL));
  if (now.ServerUserName != was.ServerUserName)
    emit q.ServerUserNameChanged(ToQString(now.ServerUserName));
  if (now.ServerPassword != was.ServerPassword)
    emit q.ServerPasswordChanged(ToQString(now.ServerPassword));
  if (now.Composed != was.Composed) emit q.ComposedChanged(now.Composed);
  if (now.UserMode != was.UserMode) emit q.UserModeChanged(now.UserMode);
  if (now.PaintCacheBudget != was.PaintCacheBudget)
    emit q.PaintCacheBudgetChanged(now.PaintCacheBudget);
  if (now.ShowMessageBoxes != was.ShowMessageBoxes)
    emit q.showMessageBoxesChanged(now.ShowMessageBoxes);
  if (now.SeeThrough != was.SeeThrough) emit q.seeThroughChanged(now.SeeThrough);
  if (now.Shown != was.Shown) {
    if (const int frame = ShownFrame(); frame >= 0) emit q.frameShown(frame);
  }
}

}  // namespace flipreel
