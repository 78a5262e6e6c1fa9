// The widget's interface: properties, methods, events and NOTIFY signals,
// each forwarded to the control.
#include "flipreel/qt/flipreel_widget.h"

#include <QtGlobal>
#include <type_traits>
#include <utility>
#include <variant>

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
  void ReadFinished() override {
    d_.Emit([this] { emit d_.q_.ReadFinished(); });
  }
  void PlayFinished() override { emit d_.q_.PlayFinished(); }
  void AsyncReadComplete(AsyncProp& prop) override {
    d_.Emit([this, p = ToQt(prop)] { emit d_.q_.AsyncReadComplete(p); });
  }
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
  // Frames that the paint cache would hold ready anyway are held so from the
  // load on, without a compact copy beside them.
  host_->set_ready_to_paint_bytes(cache_.budget());
  control_ = std::make_unique<Flipreel>(*host_);
  control_->AddListener(relay_.get());
  control_->InitProperties();
  // An application developer expects the picture the GIF's author drew; the
  // classic control is one property away. A restored form says which it was.
  control_->SetComposed(true);
  pending_ = std::make_unique<PendingLoad>(
      *host_, PendingLoad::Face{[this] { EndLoad(true); },
                                [this](const std::function<void()>& run) { AroundLoad(run); },
                                [this] { LookForPreview(); }});
  cache_.set_ready([this](const Picture& picture) {
    // A conversion ended, so a slot is free: a first frame turned away for
    // want of one is asked for again.
    if (LoadPending() && !preview_.asked && !preview_.first.IsEmpty()) AskForPreview();
    PreviewReady(picture);
  });
  sight_ = std::make_unique<SightWatch>(q_, [this](bool) { UpdateTicking(); });
  UpdateTicking();
  RefreshLooks();
  UpdateOpaqueness();
  announced_ = Current();
}

FlipreelWidgetPrivate::~FlipreelWidgetPrivate() {
  // The host's decoder drops what it decodes, so nothing posts to
  // load_finisher_ once it goes.
  pending_.reset();
  control_.reset();
  host_.reset();
}

FlipreelWidget::FlipreelWidget(QWidget* parent)
    : QWidget(parent), d_(std::make_unique<FlipreelWidgetPrivate>(*this)) {}

// A load still pending goes with the widget: nothing of it is shown or told.
FlipreelWidget::~FlipreelWidget() {
  d_->CancelLoad();
}

// --- errors -------------------------------------------------------------------

void FlipreelWidgetPrivate::Fail(const HostError& error) {
  last_error_ = FlipreelError{error.number(), QString::fromStdString(error.description())};
  Emit([this, e = last_error_] { emit q_.errorRaised(e.number, e.description); });
}

FlipreelError FlipreelWidget::lastError() const {
  d_->AwaitLoad();
  return d_->last_error_;
}

void FlipreelWidgetPrivate::HostEventFailed(std::string_view event, const HostError& error) {
  qWarning("Flipreel: the %.*s event failed with error %d: %s", static_cast<int>(event.size()),
           event.data(), error.number(), error.what());
  Fail(error);
}

// --- properties -----------------------------------------------------------------

namespace {

// A value of the control as the widget's property gives it.
int ToQt(int16_t value) {
  return value;
}
int ToQt(int32_t value) {
  return value;
}
qint64 ToQt(qint64 value) {
  return value;
}
bool ToQt(bool value) {
  return value;
}
QString ToQt(const Text& text) {
  return ToQString(text);
}
QPixmap ToQt(const Picture& picture) {
  return picture.IsEmpty() ? QPixmap() : QPixmap::fromImage(ToPaintImage(*picture.data()));
}
QColor ToQt(FlipreelWidgetPrivate::WatchedColor color) {
  return QColor::fromRgb(color.shown);
}

// A property's value as the control's setter takes it.
template <typename To>
To ToControl(int value) {
  if constexpr (std::is_same_v<To, int16_t>)
    return CheckedInt16(value);
  else
    return value;
}
template <typename To>
To ToControl(bool value) {
  return value;
}
template <typename To>
To ToControl(const QString& value) {
  return ToText(value);
}

// Values as the widget watches them for changes, and back as the NOTIFY
// signal carries them.
FlipreelWidgetPrivate::Watched ToWatched(int16_t value) {
  return qint64{value};
}
FlipreelWidgetPrivate::Watched ToWatched(int32_t value) {
  return qint64{value};
}
FlipreelWidgetPrivate::Watched ToWatched(bool value) {
  return value;
}
FlipreelWidgetPrivate::Watched ToWatched(Text value) {
  return value;
}
FlipreelWidgetPrivate::Watched ToWatched(Picture value) {
  return value;
}
template <typename Type>
Type FromWatched(const FlipreelWidgetPrivate::Watched& value) {
  return std::visit(
      [](const auto& v) -> Type {
        if constexpr (std::is_convertible_v<decltype(ToQt(v)), Type>)
          return static_cast<Type>(ToQt(v));
        else
          return Type();  // never: each row watches a value of its own type
      },
      value);
}

}  // namespace

template <typename Param, typename Value>
void FlipreelWidgetPrivate::Forward(void (Flipreel::*set)(Param), const Value& value) {
  Call([&] { (control().*set)(ToControl<std::remove_cvref_t<Param>>(value)); });
}

// The rows of FLIPREEL_WIDGET_PROPERTIES whose getter, setter and watch are
// the control's own members of the property's name.
#define FLIPREEL_WIDGET_GETTER(Type, Name)  \
  Type FlipreelWidget::Name() const {       \
    return ToQt(d_->read_control().Name()); \
  }
#define FLIPREEL_WIDGET_SETTER(Type, Name, setName) \
  void FlipreelWidget::setName(Type value) {        \
    d_->Forward(&Flipreel::Set##Name, value);       \
  }
#define FLIPREEL_WIDGET_WATCH(Name)                                           \
  FlipreelWidgetPrivate::Watched FlipreelWidgetPrivate::Watch##Name() const { \
    return ToWatched(control_->Name());                                       \
  }
#define FLIPREEL_WIDGET_DEFINE_FORWARD(Type, Name, setName) \
  FLIPREEL_WIDGET_GETTER(Type, Name)                        \
  FLIPREEL_WIDGET_SETTER(Type, Name, setName)               \
  FLIPREEL_WIDGET_WATCH(Name)
#define FLIPREEL_WIDGET_DEFINE_FORWARD_GET(Type, Name, setName) \
  FLIPREEL_WIDGET_GETTER(Type, Name)                            \
  FLIPREEL_WIDGET_WATCH(Name)
#define FLIPREEL_WIDGET_DEFINE_OWN(Type, Name, setName)
#define FLIPREEL_WIDGET_DEFINE(source, Type, Name, setName) \
  FLIPREEL_WIDGET_DEFINE_##source(Type, Name, setName)
FLIPREEL_WIDGET_PROPERTIES(FLIPREEL_WIDGET_DEFINE)
#undef FLIPREEL_WIDGET_DEFINE
#undef FLIPREEL_WIDGET_DEFINE_OWN
#undef FLIPREEL_WIDGET_DEFINE_FORWARD_GET
#undef FLIPREEL_WIDGET_DEFINE_FORWARD
#undef FLIPREEL_WIDGET_WATCH
#undef FLIPREEL_WIDGET_SETTER
#undef FLIPREEL_WIDGET_GETTER

QPixmap FlipreelWidget::BackGroundGraphic() const {
  return ToQt(d_->read_control().BackGroundGraphic());
}
void FlipreelWidget::setBackGroundGraphic(QPixmap value) {
  setBackGroundGraphic(value.toImage());
}
void FlipreelWidget::setBackGroundGraphic(const QImage& image) {
  d_->Call([&] { d_->control().SetBackGroundGraphic(PictureFromImage(image)); });
}
FlipreelWidgetPrivate::Watched FlipreelWidgetPrivate::WatchBackGroundGraphic() const {
  return ToWatched(control_->BackGroundGraphic());
}

// The colours: the control's value is the truth, the QColor what it shows.
FlipreelWidgetPrivate::Watched FlipreelWidgetPrivate::WatchColor(int32_t value) const {
  return WatchedColor{value, ResolveColor(value, Palette()).rgb()};
}
const QPalette& FlipreelWidgetPrivate::Palette() const {
  if (!palette_) palette_ = q_.palette();
  return *palette_;
}
QColor FlipreelWidgetPrivate::ShownColor(ColorGetter get) {
  return ResolveColor((control().*get)(), q_.palette());
}
void FlipreelWidgetPrivate::SetShownColor(ColorGetter get, ColorSetter set, const QColor& color) {
  Call([&] {
    if (!color.isValid()) Raise(err::kInvalidPropertyValue);
    if (color.rgb() != ResolveColor((control().*get)(), q_.palette()).rgb())
      (control().*set)(ColorValue(color));
  });
}
QColor FlipreelWidget::BackColor() const {
  return d_->ShownColor(&Flipreel::BackColor);
}
void FlipreelWidget::setBackColor(QColor value) {
  d_->SetShownColor(&Flipreel::BackColor, &Flipreel::SetBackColor, value);
}
void FlipreelWidget::resetBackColor() {
  setBackColorValue(kColorButtonFace);
}
int FlipreelWidget::backColorValue() const {
  return d_->read_control().BackColor();
}
void FlipreelWidget::setBackColorValue(int value) {
  d_->Forward(&Flipreel::SetBackColor, value);
}
FlipreelWidgetPrivate::Watched FlipreelWidgetPrivate::WatchBackColor() const {
  return WatchColor(control_->BackColor());
}
QColor FlipreelWidget::BorderColor() const {
  return d_->ShownColor(&Flipreel::BorderColor);
}
void FlipreelWidget::setBorderColor(QColor value) {
  d_->SetShownColor(&Flipreel::BorderColor, &Flipreel::SetBorderColor, value);
}
void FlipreelWidget::resetBorderColor() {
  setBorderColorValue(0);
}
int FlipreelWidget::borderColorValue() const {
  return d_->read_control().BorderColor();
}
void FlipreelWidget::setBorderColorValue(int value) {
  d_->Forward(&Flipreel::SetBorderColor, value);
}
FlipreelWidgetPrivate::Watched FlipreelWidgetPrivate::WatchBorderColor() const {
  return WatchColor(control_->BorderColor());
}

// A read: it waits for a load under way rather than finishing it as a call
// would, but its error is kept as a call's is. It reads the frame index,
// which the getter refuses beyond 16 bits; the watch takes the index itself.
int FlipreelWidget::CurrentFrame() const {
  d_->AwaitLoad();
  d_->last_error_ = {};
  try {
    return d_->control_->CurrentFrame();
  } catch (const HostError& e) {
    d_->Fail(e);
  }
  return 0;
}
void FlipreelWidget::setCurrentFrame(int value) {
  d_->Forward(&Flipreel::SetCurrentFrame, value);
}
FlipreelWidgetPrivate::Watched FlipreelWidgetPrivate::WatchCurrentFrame() const {
  return ToWatched(control_->state().FrameIndex);
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

// The frame queries take the frame by reference, as a 16-bit index.
template <typename Result>
Result FlipreelWidgetPrivate::Query(Result (Flipreel::*query)(int16_t&) const, int frame) {
  return Call([&] {
    int16_t f = CheckedInt16(frame);
    return (control().*query)(f);
  });
}
float FlipreelWidget::FrameWidth(int frame) {
  return d_->Query(&Flipreel::FrameWidth, frame);
}
float FlipreelWidget::FrameHeight(int frame) {
  return d_->Query(&Flipreel::FrameHeight, frame);
}
float FlipreelWidget::FrameLeft(int frame) {
  return d_->Query(&Flipreel::FrameLeft, frame);
}
float FlipreelWidget::FrameTop(int frame) {
  return d_->Query(&Flipreel::FrameTop, frame);
}
QImage FlipreelWidget::GetFrame(int frame) {
  return d_->Call([&] {
    int16_t f = CheckedInt16(frame);
    return d_->cache_.GetToKeep(d_->control().GetFrame(f));
  });
}

// --- the widget's own -------------------------------------------------------------

bool FlipreelWidget::UserMode() const {
  return d_->read_host().UserMode();
}
void FlipreelWidget::setUserMode(bool value) {
  d_->host().SetUserMode(value);
  d_->AnnounceChanges();  // Playing reads differently in a designer
}
FlipreelWidgetPrivate::Watched FlipreelWidgetPrivate::WatchUserMode() const {
  return host_->UserMode();
}
qint64 FlipreelWidget::PaintCacheBudget() const {
  return static_cast<qint64>(d_->read_cache().budget());
}
void FlipreelWidget::setPaintCacheBudget(qint64 value) {
  d_->Call([&] {
    if (value < 0) Raise(err::kInvalidPropertyValue);
    d_->cache_.SetBudget(static_cast<size_t>(value));
    d_->host_->set_ready_to_paint_bytes(d_->cache_.budget());
  });
}
qint64 FlipreelWidget::memoryBudget() const {
  return d_->host_->memory_budget().limit();
}
void FlipreelWidget::setMemoryBudget(qint64 bytes) {
  MemoryBudget& budget = d_->host_->memory_budget();
  if (bytes > 0) {
    budget.SetLimit(bytes);
  } else {
    budget.FollowFiles();
  }
}
FlipreelWidgetPrivate::Watched FlipreelWidgetPrivate::WatchPaintCacheBudget() const {
  return static_cast<qint64>(cache_.budget());
}
void FlipreelWidget::setHitResult(int result) {
  d_->Call([&] {
    if (!d_->hit_result_)
      Raise(err::kInvalidCall, "SetHitResult is valid only in a HitTest handler");
    *d_->hit_result_ = CheckedInt16(result);
  });
}
int FlipreelWidget::hitResult() const {
  d_->AwaitLoad();
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

// Looked for where it was last found first, then after it (the next frame
// of a normal play), then everywhere.
int FlipreelWidgetPrivate::ShownFrame() const {
  const Picture& shown = control_->imgGif().picture();
  if (shown.IsEmpty()) return -1;
  const ImageArray& frames = control_->imgBuffer();
  auto shows = [&](int32_t i) { return frames.Exists(i) && frames(i).picture() == shown; };
  for (const int32_t i : {shown_hint_, shown_hint_ + 1})
    if (shows(i)) return shown_hint_ = i;
  for (int32_t i = 0; i <= frames.UBound(); ++i)
    if (shows(i)) return shown_hint_ = i;
  return -1;
}

bool FlipreelWidget::seeThrough() const {
  return d_->read_host().surface_back_style() == 0;
}
void FlipreelWidget::setSeeThrough(bool value) {
  d_->Call([&] { d_->host().SetSurfaceBackStyle(value ? 0 : 1); });
}
FlipreelWidgetPrivate::Watched FlipreelWidgetPrivate::WatchseeThrough() const {
  return host_->surface_back_style() == 0;
}
bool FlipreelWidget::pauseWhenHidden() const {
  return d_->PausesWhenHidden();
}
void FlipreelWidget::setPauseWhenHidden(bool value) {
  d_->Call([&] {
    d_->pause_when_hidden_ = value;
    d_->UpdateTicking();
  });
}
void FlipreelWidget::resetPauseWhenHidden() {
  d_->Call([&] {
    d_->pause_when_hidden_.reset();
    d_->UpdateTicking();
  });
}
FlipreelWidgetPrivate::Watched FlipreelWidgetPrivate::WatchpauseWhenHidden() const {
  return PausesWhenHidden();
}
// Not while a tick is under way, even in an event loop it runs: a control
// shown again is handed its overdue ticks, which waits for that tick to end
// (the next call or host event).
void FlipreelWidgetPrivate::UpdateTicking() {
  if (sight_ && !host_->tick_under_way()) host_->SetSeen(sight_->seen() || !PausesWhenHidden());
}
FlipreelWidgetPrivate::Watched FlipreelWidgetPrivate::WatchshowMessageBoxes() const {
  return host_->show_message_boxes();
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
#define FLIPREEL_WIDGET_WATCHED(source, Type, Name, setName) Watch##Name(),
  return {{FLIPREEL_WIDGET_PROPERTIES(FLIPREEL_WIDGET_WATCHED)},
          control_->imgGif().picture().data()};
#undef FLIPREEL_WIDGET_WATCHED
}

void FlipreelWidgetPrivate::AnnounceChanges(bool with_texts) {
  if (!control_) return;
  // While a read finishes a load, the changes are told when its other
  // signals are.
  if (holding_) {
    held_.emplace_back([this, with_texts] { AnnounceChanges(with_texts); });
    return;
  }
  UpdateTicking();  // Composed may have changed
  compare_all_ = false;
  const bool text_notified = std::exchange(text_notified_, false);
  with_texts = with_texts || text_notified;
  // Recorded before any signal goes out, so that a slot that changes a value
  // again announces only its own change. Without with_texts the texts are
  // not read: they stay as announced, so that a tick costs nothing of a
  // text's length. Each value is compared where it is kept and copied only
  // when it changed: a tick changes one or two of them.
  std::array<bool, kWatchedCount> changed{};
  Announced now;
  size_t i = 0;
#define FLIPREEL_WIDGET_WATCHED(source, Type, Name, setName)               \
  if (with_texts || !std::holds_alternative<Text>(announced_.values[i])) { \
    if (Watched value = Watch##Name(); value != announced_.values[i]) {    \
      changed[i] = true;                                                   \
      now.values[i] = value;                                               \
      announced_.values[i] = std::move(value);                             \
    }                                                                      \
  }                                                                        \
  ++i;
  FLIPREEL_WIDGET_PROPERTIES(FLIPREEL_WIDGET_WATCHED)
#undef FLIPREEL_WIDGET_WATCHED
  const bool shown_changed = RecordShown();
  i = 0;
#define FLIPREEL_WIDGET_ANNOUNCE(source, Type, Name, setName)              \
  if (changed[i]) emit q_.Name##Changed(FromWatched<Type>(now.values[i])); \
  ++i;
  FLIPREEL_WIDGET_PROPERTIES(FLIPREEL_WIDGET_ANNOUNCE)
#undef FLIPREEL_WIDGET_ANNOUNCE
  if (shown_changed) AnnounceShown();
}

bool FlipreelWidgetPrivate::RecordShown() {
  const PictureData* const shown = control_->imgGif().picture().data();
  return std::exchange(announced_.shown, shown) != shown;
}

void FlipreelWidgetPrivate::AnnounceShown() {
  if (const int frame = ShownFrame(); frame >= 0) emit q_.frameShown(frame);
}

void FlipreelWidgetPrivate::AnnounceTick() {
  if (!control_) return;
  if (compare_all_ || text_notified_ || holding_) {
    AnnounceChanges(/*with_texts=*/false);
    return;
  }
  // Recorded before any signal goes out, as AnnounceChanges does, and
  // announced in the properties' order. Both values are scalars, compared
  // with what was announced where it is kept rather than as variants.
  auto record = [this]<typename Value>(WatchedIndex i, Value value) {
    if (const Value* was = std::get_if<Value>(&announced_.values[i]); was && *was == value)
      return false;
    announced_.values[i] = value;
    return true;
  };
  static_assert(kWatchedPlaying < kWatchedCurrentFrame);
  const bool playing = std::get<bool>(WatchPlaying());
  const qint64 frame = std::get<qint64>(WatchCurrentFrame());
  const bool playing_changed = record(kWatchedPlaying, playing);
  const bool frame_changed = record(kWatchedCurrentFrame, frame);
  const bool shown_changed = RecordShown();
  if (playing_changed) emit q_.PlayingChanged(playing);
  if (frame_changed) emit q_.CurrentFrameChanged(static_cast<int>(frame));
  if (shown_changed) AnnounceShown();
}

}  // namespace flipreel
