#include "flipreel/quick/flipreel_item.h"

#include <QtQml/qqmlcontext.h>
#include <QtQml/qqmlengine.h>
#include <QtQml/qqmlinfo.h>
#include <QFile>
#include <QFileInfo>
#include <QMetaEnum>
#include <QQuickWindow>
#include <QScopedValueRollback>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "flipreel/control/events.h"
#include "flipreel/control/flipreel.h"
#include "flipreel/control/load_outcome.h"
#include "flipreel/host/scope.h"
#include "flipreel/qt/pending_load.h"
#include "flipreel/qt/picture_cache.h"
#include "flipreel/qt/read_ahead.h"
#include "flipreel/quick/frame_node.h"
#include "flipreel/quick/quick_host.h"

namespace flipreel {

namespace {

bool IsDownload(const QUrl& url) {
  const QString scheme = url.scheme().toLower();
  return scheme == QLatin1String("http") || scheme == QLatin1String("https") ||
         scheme == QLatin1String("ftp");
}

// The path QFile opens for a file or resource address; empty for others.
QString FilePath(const QUrl& url) {
  if (url.isLocalFile()) return url.toLocalFile();
  const QString scheme = url.scheme().toLower();
  if (scheme == QLatin1String("qrc")) return QLatin1Char(':') + url.path();
  if (scheme.isEmpty()) return url.path();
  return {};
}

// The whole file or resource at path; raises the error that stops a load
// before the control sees it.
std::string ReadSource(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly))
    Raise(file.exists() ? err::kPathFileAccess : err::kFileNotFound);
  std::string bytes(static_cast<size_t>(std::max<qint64>(file.size(), 0)), '\0');
  const qint64 read = file.read(bytes.data(), static_cast<qint64>(bytes.size()));
  bytes.resize(static_cast<size_t>(std::max<qint64>(read, 0)));
  if (bytes.empty()) Raise(err::kInvalidPicture);
  return bytes;
}

// Whether the value is one of the enumeration's. QML assigns any number to
// an enumeration property: one the item has no meaning for is refused with
// a warning, and the property keeps its value.
template <typename Enum>
bool Known(const QObject* item, Enum value, const char* property) {
  if (QMetaEnum::fromType<Enum>().valueToKey(static_cast<int>(value))) return true;
  qmlWarning(item) << property << " has no value " << static_cast<int>(value);
  return false;
}

}  // namespace

class FlipreelItemPrivate final : public QuickSurface, public FlipreelEvents {
 public:
  explicit FlipreelItemPrivate(FlipreelItem& item) : q_(item), host_(*this) {
    control_ = std::make_unique<Flipreel>(host_);
    control_->AddListener(this);
    control_->InitProperties();
    // The face shows a GIF as its author drew it.
    control_->SetComposed(true);
    announced_ = Current();
    converter_.set_ready([this](const Picture&) { Converted(); });
  }
  ~FlipreelItemPrivate() override {
    DropLoad();
    control_->RemoveListener(this);
    control_.reset();
  }

  // --- what the item's properties read ------------------------------------------
  struct Values {
    bool playing = false;
    int current = -1;
    int count = 0;
    QSize source_size;
    int sequence = 0;
    int loops = 0;
    bool composed = true;
    friend bool operator==(const Values&, const Values&) = default;
  };

  Values Current() const {
    Values v;
    v.playing = control_->Playing();
    v.current = shown_;
    v.count = frame_count_;
    v.source_size = bounds_.size();
    v.sequence = control_->Sequence();
    v.loops = control_->AutoRewind();
    v.composed = control_->Composed();
    return v;
  }

  // Emits the NOTIFY signals of what changed since the last announcement.
  void Announce() {
    const Values now = Current();
    const Values was = std::exchange(announced_, now);
    const bool new_frame = std::exchange(new_frame_, false);
    if (now.count != was.count) emit q_.frameCountChanged(now.count);
    if (now.source_size != was.source_size) emit q_.sourceSizeChanged(now.source_size);
    if (now.current != was.current || new_frame) emit q_.frameChanged();
    if (now.playing != was.playing) emit q_.playingChanged(now.playing);
    if (now.sequence != was.sequence)
      emit q_.sequenceChanged(static_cast<FlipreelItem::Sequence>(now.sequence));
    if (now.loops != was.loops) emit q_.loopsChanged(now.loops);
    if (now.composed != was.composed) emit q_.composedChanged(now.composed);
    if (finished_) {
      finished_ = false;
      emit q_.finished();
    }
  }

  // Runs a call on the control, after the load under way; its errors become
  // the item's error.
  template <typename Fn>
  bool Call(Fn&& fn) {
    FinishLoad();
    std::optional<HostError> failed = Trap(std::forward<Fn>(fn));
    if (failed) SetError(*failed);
    Announce();
    return !failed;
  }

  void SetError(const std::optional<HostError>& error) {
    const int number = error ? error->number() : 0;
    const QString text = error ? QString::fromStdString(error->description()) : QString();
    if (number != error_number_) {
      error_number_ = number;
      emit q_.errorNumberChanged(number);
    }
    if (text != error_string_) {
      error_string_ = text;
      emit q_.errorStringChanged(text);
    }
  }

  // `ended`: a load has ended, which is told even when the status stays what
  // it was, as Image and AnimatedImage tell it: a handler that tries another
  // source on Error hears each failure, one waiting for Ready each new GIF.
  void SetStatus(FlipreelItem::Status status, bool ended = false) {
    if (status == status_ && !ended) return;
    status_ = status;
    emit q_.statusChanged(status);
  }

  void SetProgress(qreal progress) {
    if (progress == progress_) return;
    progress_ = progress;
    emit q_.progressChanged(progress);
  }

  void AnnounceLoading() {
    SetError(std::nullopt);
    SetProgress(0);
    SetStatus(FlipreelItem::Loading);
  }

  // --- loading --------------------------------------------------------------------
  void Load() {
    const QUrl url = Resolved();
    // A newer file or resource ends the load under way at once. A download
    // leaves it to end first: the GIF on show stays, and plays, until the
    // download ends.
    if (IsDownload(url)) {
      pending_.Cancel();
    } else {
      DropLoad();
    }
    preview_ = Picture();
    if (downloading_) {
      downloading_ = false;
      (void)Trap([&] { control_->CancelAsyncRead(); });
    }
    if (url.isEmpty()) {
      (void)Trap([&] { control_->RemoveGif(); });
      FramesChanged();
      SetError(std::nullopt);
      SetProgress(0);
      SetStatus(FlipreelItem::Null);
      Announce();
      return;
    }
    host_.trapped_errors().clear();
    if (IsDownload(url)) {
      AnnounceLoading();
      downloading_ = true;
      const Text address = url.toString().toStdU16String();
      std::optional<HostError> raised = Trap([&] { control_->SetGifFromURL(address); });
      if (!raised && !host_.trapped_errors().empty()) raised = host_.trapped_errors().front();
      if (raised) {
        downloading_ = false;
        Ended(raised, true);
      }
      Announce();
      return;
    }
    const QString path = FilePath(url);
    std::optional<HostError> raised =
        path.isEmpty() ? HostError(err::kBadFileNameOrNumber,
                                   "Unsupported address: " + url.toString().toStdString())
                       : (path.startsWith(QLatin1Char(':')) ? std::nullopt : CheckGifFile(path));
    if (!raised && DeferLoad(path)) return;
    std::string bytes;
    if (!raised) raised = Trap([&] { bytes = ReadSource(path); });
    LoadBytes(bytes, raised);
  }

  // Gives the control these bytes, or, when the source failed before, an
  // empty load, which clears what it showed.
  void LoadBytes(std::string_view bytes, const std::optional<HostError>& raised) {
    std::optional<HostError> load =
        Trap([&] { LoadGifBytes(*control_, host_, raised ? std::string_view() : bytes); });
    Ended(raised ? raised : load);
    Announce();
  }

  // A GIF too large to load in a moment (any GIF, `asynchronous`) loads as
  // the widget's do: read (and composed, or its frames decoded) on other
  // threads, and handed to the control in slices from the event loop,
  // `status` Loading meanwhile. What reads a result of the load waits for it
  // (AwaitLoad).
  bool DeferLoad(const QString& path) {
    constexpr qint64 kSmallGif = qint64{64} << 10;
    if (!asynchronous_ && QFileInfo(path).size() < kSmallGif) return false;
    std::optional<MemoryBudget> compose;
    if (control_->Composed()) compose = host_.memory_budget();
    std::shared_ptr<ReadAhead> ahead = ReadAhead::StartFile(path, std::move(compose));
    pending_.Start(ahead, [this, path, ahead] {
      if (!ahead->Read()) {
        // Not to be read there: read here, and fail as a load at once would.
        std::string bytes;
        const std::optional<HostError> raised = Trap([&] { bytes = ReadSource(path); });
        const std::optional<HostError> load =
            Trap([&] { LoadGifBytes(*control_, host_, raised ? std::string_view() : bytes); });
        load_error_ = raised ? raised : load;
        return;
      }
      const Text file = BytesFilePath(host_);
      load_error_ =
          Trap([&] { host_.LoadWith(file, *ahead, [&] { control_->SetFlipreelFile(file); }); });
    });
    // Without `asynchronous`, reads of the item wait for this load, so it is
    // told only as it ends: a binding that read `status` on a change
    // announced now would hold the event loop until the load was done.
    if (asynchronous_) AnnounceLoading();
    return true;
  }

  // The load has ended: the item tells how, now or, when a read of a
  // result ended it, from the event loop.
  void EndLoad(bool announce_later) {
    pending_.Clear();
    preview_ = Picture();
    if (!announce_later) {
      Ended(load_error_);
      Announce();
      return;
    }
    // What the load changed is told later: what was told before it ended,
    // and what it left. The item's size follows its implicit size when none
    // was given, so a change of it is told too.
    const Told before = Telling();
    Told after;
    {
      const QSignalBlocker quiet(&q_);
      Ended(load_error_);
      after.new_frame = new_frame_;
      Announce();
    }
    after = Telling(after.new_frame);
    QTimer::singleShot(0, &load_context_, [this, before, after] { AnnounceLoad(before, after); });
  }

  // What a load ended by a read may change, as it was told.
  struct Told {
    qreal progress = 0;
    int error_number = 0;
    QString error_string;
    Values values;
    QSizeF implicit;
    QSizeF size;
    bool new_frame = false;
  };
  Told Telling(bool new_frame = false) const {
    return {progress_,
            error_number_,
            error_string_,
            announced_,
            QSizeF(q_.implicitWidth(), q_.implicitHeight()),
            q_.size(),
            new_frame};
  }

  // Tells of the load's end, and of what it changed, after a read that
  // ended it told nothing: as a load told at once does.
  void AnnounceLoad(const Told& before, const Told& after) {
    emit q_.statusChanged(status_);
    if (after.progress != before.progress) emit q_.progressChanged(progress_);
    if (after.error_number != before.error_number) emit q_.errorNumberChanged(error_number_);
    if (after.error_string != before.error_string) emit q_.errorStringChanged(error_string_);
    const Values& was = before.values;
    const Values& now = after.values;
    if (now.count != was.count) emit q_.frameCountChanged(frame_count_);
    if (now.source_size != was.source_size) emit q_.sourceSizeChanged(bounds_.size());
    if (after.implicit.width() != before.implicit.width()) emit q_.implicitWidthChanged();
    if (after.implicit.height() != before.implicit.height()) emit q_.implicitHeightChanged();
    if (now.current != was.current || after.new_frame) emit q_.frameChanged();
    if (now.playing != was.playing) emit q_.playingChanged(control_->Playing());
    if (after.size.width() != before.size.width()) emit q_.widthChanged();
    if (after.size.height() != before.size.height()) emit q_.heightChanged();
  }

  // A call that changes the item, or reads a result of the load, waits for
  // the load under way (not from inside it).
  void FinishLoad() {
    if (pending_.RunToEnd()) EndLoad(false);
  }
  void AwaitLoad() {
    if (pending_.RunToEnd()) EndLoad(true);
  }

  // Before each slice: the new first frame is shown as soon as it is decoded
  // (or composed), while the rest of the load runs on.
  void LookForPreview() {
    if (!preview_.IsEmpty()) return;
    preview_ = host_.FirstFrameDecoded();
    if (preview_.IsEmpty()) preview_ = pending_.ahead().FirstComposed();
    if (!preview_.IsEmpty()) Redraw();
  }

  // Shows frame i by running the animation on, tick by tick at once, with
  // its timer on; play then starts afresh from the frame reached (a stopped
  // item stays stopped), so that the next frame comes after this one's own
  // delay. Nothing is drawn or told on the way: the caller tells of the
  // frame reached.
  bool Jump(int frame) {
    if (frame < 0 || frame >= frame_count_) return false;
    {
      const QScopedValueRollback quiet(jumping_, true);
      const bool was_playing = control_->Playing();
      (void)Trap([&] { control_->StartAnimation(); });
      // Two passes of any order but Random meet every frame.
      for (int step = 0; shown_ != frame && step < 2 * frame_count_ + 2; ++step) {
        if (!host_.DeliverTick()) break;
      }
      (void)Trap([&] { control_->StopAnimation(); });
      if (was_playing) (void)Trap([&] { control_->StartAnimation(); });
    }
    DrawnChanged();
    return shown_ == frame;
  }

  // --- the load's pauses (QuickSurface) -----------------------------------------
  bool LoadPending() const override { return pending_.pending(); }
  void BetweenLoadSteps() override { pending_.BetweenSteps(); }
  // A load dropped while it waits for its frames to be composed elsewhere
  // gives up the wait, and one dropped between its frames decodes no more:
  // it ends at once, as a load that failed, rather than holding the event
  // loop until frames nobody will show are made.
  bool DroppingLoad() const override { return dropping_; }
  bool PauseLoad() override {
    if (dropping_) Raise(err::kInvalidCall);
    return pending_.PauseToWait();
  }

  // Drops the load under way, for the item goes or a newer source replaces
  // it. One that has begun runs to its end (its steps may be half done),
  // without waiting for its frames.
  void DropLoad() {
    const ScopedValue dropping(dropping_, true);
    pending_.Cancel();
  }

  // A load has ended: the status and error tell how. A download that fails
  // leaves the control with the GIF it had: the item then clears it, as a
  // file that fails clears it (and as Image does), so that an item in Error
  // shows and plays nothing.
  void Ended(const std::optional<HostError>& raised, bool download = false) {
    const std::optional<HostError> failure = LoadFailure(*control_, raised, host_.trapped_errors());
    if (failure && download) (void)Trap([&] { LoadGifBytes(*control_, host_, {}); });
    host_.trapped_errors().clear();
    FramesChanged();
    // A frame declared with the source stands once the GIF is loaded, before
    // the load is told of.
    if (const int frame = std::exchange(declared_frame_, -1); frame >= 0 && !failure)
      (void)Jump(frame);
    // The new GIF's frame on show is told as a frame shown, whatever its
    // number was before.
    new_frame_ = !failure && shown_ >= 0;
    SetError(failure);
    SetProgress(failure ? 0.0 : 1.0);
    SetStatus(failure ? FlipreelItem::Error : FlipreelItem::Ready, true);
  }

  QUrl Resolved() const {
    if (source_.isEmpty() || !source_.isRelative()) return source_;
    if (const QQmlContext* context = qmlContext(&q_)) return context->resolvedUrl(source_);
    return source_;
  }

  // The frames changed (a load, a switch of Composed): the index of every
  // picture, and the box all frames lie in.
  void FramesChanged() {
    index_.clear();
    bounds_ = QRect();
    frame_count_ = 0;
    frames_bytes_ = 0;
    const ImageArray& frames = control_->imgBuffer();
    if (control_->state().FramesLoaded) {
      for (int32_t i = 0; i <= frames.UBound(); ++i) {
        if (!frames.Exists(i)) continue;
        const Image& frame = frames(i);
        if (frame.picture().IsEmpty()) continue;
        if (index_.emplace(frame.picture().data(), i).second)
          frames_bytes_ += size_t{4} * frame.picture().width() * frame.picture().height();
        bounds_ |= FrameRect(frame);
        frame_count_ = std::max(frame_count_, static_cast<int>(i) + 1);
      }
    }
    // As Image's, the item's implicit size is the picture's.
    q_.setImplicitSize(bounds_.width(), bounds_.height());
    UpdateShown();
    Redraw();
  }

  static QRect FrameRect(const Image& image) {
    return QRect(qRound(image.left() / 15.0f), qRound(image.top() / 15.0f), image.picture().width(),
                 image.picture().height());
  }

  void UpdateShown() {
    const Picture& picture = control_->imgGif().picture();
    auto it = index_.find(picture.data());
    shown_ = it != index_.end() ? it->second : -1;
  }

  // --- QuickSurface ---------------------------------------------------------------
  void ElementChanged(const Element& element, ElementProperty what) override {
    // The control's elements tell of their first values while it is built,
    // before control_ holds it.
    if (!control_) return;
    // A load run in slices puts the first frame into the frame store before
    // imgGif shows anything: the item shows it from there.
    if (element.index() == 0 && what == ElementProperty::kPicture && preview_.IsEmpty() &&
        pending_.pending()) {
      preview_ = static_cast<const Image&>(element).picture();
      if (!preview_.IsEmpty()) Redraw();
      return;
    }
    if (&element != &control_->imgGif()) return;
    if (what == ElementProperty::kPicture) UpdateShown();
    // A jump draws only the frame it reaches.
    if (!jumping_) DrawnChanged();
  }

  // A tick sets every value of imgGif; the window draws again only when
  // what the item draws of it changed.
  void DrawnChanged() {
    const Image& shown = control_->imgGif();
    const Drawn now{shown.picture().data(), shown.visible()};
    if (now != drawn_) {
      drawn_ = now;
      Redraw();
    }
  }
  void PropertyNotified(std::string_view) override {}
  void HostEventEnded() override {
    // A download's completion is told once the item has taken in what it
    // loaded (ReadCompleted), so that `playing` never changes before the
    // frames and the status do; a jump tells of where it ended, not of the
    // ticks that took it there.
    if (completing_ || jumping_) return;
    Announce();
    ConvertAhead();
  }
  void HostEventFailed(std::string_view event, const HostError& error) override {
    qWarning("Flipreel: the %.*s event failed with error %d: %s", static_cast<int>(event.size()),
             event.data(), error.number(), error.what());
    SetError(error);
  }

  // --- FlipreelEvents -------------------------------------------------------------
  void PlayFinished() override { finished_ = true; }
  void AsyncReadProgress(AsyncProp& prop) override {
    if (prop.BytesMax > 0)
      SetProgress(static_cast<qreal>(prop.BytesRead) / static_cast<qreal>(prop.BytesMax));
  }
  // The control has loaded what the download brought; the item tells of it
  // in ReadCompleted.
  void AsyncReadComplete(AsyncProp& prop) override {
    completing_ = downloading_ && prop.PropertyName == u"GifFromURL";
  }
  // The control has loaded what the download brought, or trapped why it
  // could not.
  void ReadCompleted(const AsyncProp& prop) override {
    completing_ = false;
    if (!downloading_ || prop.PropertyName != u"GifFromURL") return;
    downloading_ = false;
    Ended(std::nullopt, true);
    Announce();
    ConvertAhead();
  }

  // --- drawing --------------------------------------------------------------------
  // The bytes the node may keep textures in. Frames that do not all fit are
  // shown in turn each time anyway, so none is kept: keeping some would save
  // a few uploads a pass for the cost of making each of their textures.
  // While a load is pending the old frames are going, and the new ones are
  // not known yet.
  size_t KeptBudget() const {
    return !pending_.pending() && frames_bytes_ <= texture_budget_ ? texture_budget_ : 0;
  }

  // While a load is pending the new first frame shows, once there is one, on
  // its own: the frames' box is not known before the load ends.
  bool ShowsPreview() const { return pending_.pending() && !preview_.IsEmpty(); }
  const Picture& ToShow() const { return ShowsPreview() ? preview_ : control_->imgGif().picture(); }

  // Whether the node shows the picture without a copy made here: it is
  // small, not drawn, or has a texture there already.
  bool ShownAtOnce(const Picture& picture) const {
    if (picture.IsEmpty() || FrameNode::ConvertsHere(picture)) return true;
    if (!control_->imgGif().visible()) return true;  // nothing is drawn
    auto it = textured_.find(picture.data());
    return it != textured_.end() && !it->second.expired();
  }

  // Asks the window to draw the item again. A large picture shown for the
  // first time is first converted on another thread, so that the window's
  // sync only hands its copy over: the window draws it once the copy is
  // ready, and shows what it showed until then. `copy` asks for a copy
  // whatever the node was last seen to hold.
  void Redraw(bool copy = false) {
    const Picture& picture = ToShow();
    if ((copy || !ShownAtOnce(picture)) && !TakeCopy(picture)) {
      awaited_ = picture;
      // At most a few convert at once: one not started now is asked for
      // again when one of those comes back.
      (void)converter_.PrepareToShow(picture);
      return;
    }
    awaited_ = Picture();
    q_.update();
  }

  // Puts the picture's copy, when it is ready, where the node takes it.
  bool TakeCopy(const Picture& picture) {
    if (picture.IsEmpty() || !converter_.Has(picture)) return false;
    // The render thread uploads the copy after the GUI thread has moved on
    // and may have let the picture go.
    copy_ = Copy{picture, converter_.GetToKeep(picture)};
    return true;
  }

  // A copy has come back from the conversion threads.
  void Converted() {
    if (!awaited_.IsEmpty()) Redraw(true);
  }

  // In the normal order the next frames are known: those the node has no
  // texture of are converted before their ticks come.
  void ConvertAhead() {
    if (!host_.timer_running() || control_->Sequence() != kSequenceNormal || shown_ < 0) return;
    const ImageArray& frames = control_->imgBuffer();
    int next = shown_;
    for (size_t ahead = 0; ahead < PictureCache::kShowAhead; ++ahead) {
      next = next + 1 >= frame_count_ ? 0 : next + 1;
      if (!frames.Exists(next)) continue;
      const Picture& picture = frames(next).picture();
      if (!ShownAtOnce(picture)) (void)converter_.PrepareToShow(picture);
    }
  }

  // The item is in this window now (or none): its showing, hiding and
  // minimising start and stop the item's ticks. Whatever brings the item into
  // sight or takes it out of it (a scroll, a move, a change of clip, opacity
  // or window size) makes the window draw a frame, and each frame is animated
  // on this thread before the scene is synchronised: the item looks again
  // then, so that one coming into sight is ticked up to date in the frame
  // that first shows it. A window that draws nothing costs its items nothing.
  void WatchWindow(QQuickWindow* window) {
    QObject::disconnect(window_visible_);
    QObject::disconnect(window_frame_);
    if (!window) return;
    window_visible_ =
        QObject::connect(window, &QWindow::visibilityChanged, &q_, [this] { UpdateActive(); });
    window_frame_ =
        QObject::connect(window, &QQuickWindow::afterAnimating, &q_, [this] { UpdateActive(); });
  }

  // The timer runs only while some part of the item can be seen. A minimised
  // window is still visible to Qt, but nothing in it is seen.
  void UpdateActive() {
    if (!pause_when_hidden_) {
      host_.SetActive(q_.isComponentComplete());
      return;
    }
    QQuickWindow* window = q_.window();
    const bool seen = window && window->isVisible() && window->visibility() != QWindow::Minimized;
    host_.SetActive(q_.isComponentComplete() && q_.isVisible() && seen && InSight(*window));
  }

  // Whether some part of the item may be seen in its window: its bounds in
  // the scene, cut by every ancestor that clips and by the window, are not
  // empty, and neither it nor an ancestor is wholly transparent. Siblings
  // that cover it are not taken into account. The rectangles are bounding
  // boxes, so a rotated or scaled item is taken as seen wherever its box
  // reaches; an item of no size draws nothing but keeps its ticks (and its
  // signals), for nothing says where it would be seen.
  bool InSight(const QQuickWindow& window) const {
    if (q_.opacity() <= 0) return false;
    const QRectF own = q_.boundingRect();
    const bool placed = !own.isEmpty();
    QRectF seen = placed ? q_.mapRectToScene(own) : QRectF();
    for (const QQuickItem* above = q_.parentItem(); above; above = above->parentItem()) {
      if (above->opacity() <= 0) return false;
      if (placed && above->clip()) seen &= above->mapRectToScene(above->clipRect());
    }
    return !placed || !(seen & QRectF(QPointF(), window.size())).isEmpty();
  }

  FlipreelItem& q_;
  QuickHost host_;
  std::unique_ptr<Flipreel> control_;
  Values announced_;
  QUrl source_;
  FlipreelItem::Status status_ = FlipreelItem::Null;
  qreal progress_ = 0;
  int error_number_ = 0;
  QString error_string_;
  bool downloading_ = false;
  bool completing_ = false;  // the control has loaded a download, not yet told
  bool finished_ = false;
  bool load_pending_ = false;
  bool new_frame_ = false;   // a load put a new GIF's frame on show, not told yet
  bool jumping_ = false;     // ticks run at once to reach a frame
  int declared_frame_ = -1;  // `currentFrame` given before the item was complete
  bool dropping_ = false;    // the load under way is being dropped (DropLoad)
  FlipreelItem::FillMode fill_mode_ = FlipreelItem::Stretch;
  FlipreelItem::HAlignment halign_ = FlipreelItem::AlignHCenter;
  FlipreelItem::VAlignment valign_ = FlipreelItem::AlignVCenter;
  bool smooth_ = true;
  bool asynchronous_ = false;
  bool pause_when_hidden_ = true;
  size_t texture_budget_ = FrameNode::kDefaultBudget;
  // What of imgGif the item last asked the window to draw.
  struct Drawn {
    const PictureData* picture = nullptr;
    bool visible = true;
    friend bool operator==(const Drawn&, const Drawn&) = default;
  };
  Drawn drawn_;
  std::unordered_map<const PictureData*, int> index_;
  // Drawing: paint-ready copies of large frames are made on other threads;
  // the copy for the node's next sync, the picture waiting for its copy, and
  // the pictures the node was last seen to hold textures of.
  PictureCache converter_{0};
  struct Copy {
    Picture picture;
    QImage image;
  };
  Copy copy_;
  Picture awaited_;
  FrameNode::Textured textured_;
  uint64_t textured_serial_ = 0;
  QRect bounds_;
  int frame_count_ = 0;
  size_t frames_bytes_ = 0;  // the frames' paint-ready size
  int shown_ = -1;
  QMetaObject::Connection window_visible_;
  QMetaObject::Connection window_frame_;
  // The load under way, run in slices (DeferLoad), and how it ended.
  std::optional<HostError> load_error_;
  QObject load_context_;  // a load's late announcement is posted to it
  Picture preview_;       // the new first frame, shown while the load is pending
  PendingLoad pending_{host_, PendingLoad::Face{.ended = [this] { EndLoad(false); },
                                                .before_slice = [this] { LookForPreview(); }}};
};

FlipreelItem::FlipreelItem(QQuickItem* parent)
    : QQuickItem(parent), d_(std::make_unique<FlipreelItemPrivate>(*this)) {
  setFlag(ItemHasContents, true);
  setImplicitSize(0, 0);
  // An item given its parent here entered that parent's window inside
  // QQuickItem's constructor, where itemChange does not reach this class:
  // it watches the window from here, and is active only while that window
  // shows it (an item made in C++ with no window, or in a hidden one, takes
  // no ticks). QML gives its items their parents later, through itemChange.
  d_->WatchWindow(window());
  d_->UpdateActive();
  if (window()) update();
}

FlipreelItem::~FlipreelItem() = default;

void FlipreelItem::componentComplete() {
  QQuickItem::componentComplete();
  if (std::exchange(d_->load_pending_, false)) d_->Load();
  d_->UpdateActive();
}

void FlipreelItem::itemChange(ItemChange change, const ItemChangeData& value) {
  if (change == ItemSceneChange) d_->WatchWindow(value.window);
  QQuickItem::itemChange(change, value);
  // The node is made as soon as there is a window, before any picture: its
  // first frame prepares the shaders pictures are drawn with.
  if (change == ItemSceneChange && value.window) update();
  if (change == ItemSceneChange || change == ItemVisibleHasChanged) d_->UpdateActive();
}

QUrl FlipreelItem::source() const {
  return d_->source_;
}

void FlipreelItem::setSource(const QUrl& source) {
  if (source == d_->source_) return;
  d_->source_ = source;
  emit sourceChanged(source);
  // QML sets every property before the component is complete; an item made
  // in C++ is complete from the start and loads at once.
  if (!isComponentComplete()) {
    d_->load_pending_ = true;
    return;
  }
  d_->Load();
}

// Without `asynchronous`, a load looks done to whoever reads its status.
FlipreelItem::Status FlipreelItem::status() const {
  if (!d_->asynchronous_) d_->AwaitLoad();
  return d_->status_;
}

qreal FlipreelItem::progress() const {
  if (!d_->asynchronous_) d_->AwaitLoad();
  return d_->progress_;
}

// A result of the load waits for it.
QString FlipreelItem::errorString() const {
  d_->AwaitLoad();
  return d_->error_string_;
}

int FlipreelItem::errorNumber() const {
  d_->AwaitLoad();
  return d_->error_number_;
}

bool FlipreelItem::playing() const {
  d_->AwaitLoad();
  return d_->control_->Playing();
}

// What the item is told is kept for the loads that follow too: an item set
// not to play loads its GIF without starting it.
void FlipreelItem::setPlaying(bool playing) {
  d_->Call([&] {
    d_->control_->SetAutoStart(playing);
    d_->control_->SetPlaying(playing);
  });
}

bool FlipreelItem::paused() const {
  return d_->host_.held();
}

void FlipreelItem::setPaused(bool paused) {
  if (paused == d_->host_.held()) return;
  d_->host_.SetHeld(paused);
  emit pausedChanged(paused);
  d_->Announce();
}

int FlipreelItem::currentFrame() const {
  d_->AwaitLoad();
  return d_->shown_;
}

// A frame given before the item is complete (declared in QML beside
// `source`) is where the GIF it then loads stands, when that load ends.
void FlipreelItem::setCurrentFrame(int frame) {
  if (!isComponentComplete()) {
    d_->declared_frame_ = frame;
    return;
  }
  (void)jumpTo(frame);
}

int FlipreelItem::frameCount() const {
  d_->AwaitLoad();
  return d_->frame_count_;
}

qreal FlipreelItem::speed() const {
  return d_->host_.speed();
}

void FlipreelItem::setSpeed(qreal speed) {
  const qreal was = d_->host_.speed();
  d_->host_.SetSpeed(speed);
  if (d_->host_.speed() != was) emit speedChanged(d_->host_.speed());
}

FlipreelItem::Sequence FlipreelItem::sequence() const {
  return static_cast<Sequence>(d_->control_->Sequence());
}

void FlipreelItem::setSequence(Sequence sequence) {
  if (!Known(this, sequence, "sequence")) return;
  d_->Call([&] { d_->control_->SetSequence(sequence); });
}

int FlipreelItem::loops() const {
  return d_->control_->AutoRewind();
}

void FlipreelItem::setLoops(int loops) {
  d_->Call([&] { d_->control_->SetAutoRewind(static_cast<int16_t>(std::clamp(loops, 0, 32767))); });
}

bool FlipreelItem::composed() const {
  return d_->control_->Composed();
}

void FlipreelItem::setComposed(bool composed) {
  d_->Call([&] { d_->control_->SetComposed(composed); });
  d_->FramesChanged();
  d_->Announce();
}

FlipreelItem::FillMode FlipreelItem::fillMode() const {
  return d_->fill_mode_;
}

void FlipreelItem::setFillMode(FillMode mode) {
  if (!Known(this, mode, "fillMode")) return;
  if (mode == d_->fill_mode_) return;
  d_->fill_mode_ = mode;
  d_->Redraw();
  emit fillModeChanged(mode);
}

FlipreelItem::HAlignment FlipreelItem::horizontalAlignment() const {
  return d_->halign_;
}

void FlipreelItem::setHorizontalAlignment(HAlignment alignment) {
  if (!Known(this, alignment, "horizontalAlignment")) return;
  if (alignment == d_->halign_) return;
  d_->halign_ = alignment;
  d_->Redraw();
  emit horizontalAlignmentChanged(alignment);
}

FlipreelItem::VAlignment FlipreelItem::verticalAlignment() const {
  return d_->valign_;
}

void FlipreelItem::setVerticalAlignment(VAlignment alignment) {
  if (!Known(this, alignment, "verticalAlignment")) return;
  if (alignment == d_->valign_) return;
  d_->valign_ = alignment;
  d_->Redraw();
  emit verticalAlignmentChanged(alignment);
}

bool FlipreelItem::smooth() const {
  return d_->smooth_;
}

void FlipreelItem::setSmooth(bool smooth) {
  if (smooth == d_->smooth_) return;
  d_->smooth_ = smooth;
  d_->Redraw();
  emit smoothChanged(smooth);
}

bool FlipreelItem::asynchronous() const {
  return d_->asynchronous_;
}

void FlipreelItem::setAsynchronous(bool asynchronous) {
  if (asynchronous == d_->asynchronous_) return;
  d_->asynchronous_ = asynchronous;
  // A load left untold, since reads waited for it, is told now that they
  // no longer do.
  if (asynchronous && d_->LoadPending()) d_->AnnounceLoading();
  emit asynchronousChanged(asynchronous);
}

bool FlipreelItem::pauseWhenHidden() const {
  return d_->pause_when_hidden_;
}

void FlipreelItem::setPauseWhenHidden(bool pause) {
  if (pause == d_->pause_when_hidden_) return;
  d_->pause_when_hidden_ = pause;
  d_->UpdateActive();
  emit pauseWhenHiddenChanged(pause);
}

int FlipreelItem::textureBudget() const {
  return static_cast<int>(d_->texture_budget_);
}

void FlipreelItem::setTextureBudget(int bytes) {
  const auto budget = static_cast<size_t>(std::max(bytes, 0));
  if (budget == d_->texture_budget_) return;
  d_->texture_budget_ = budget;
  d_->Redraw();
  emit textureBudgetChanged(static_cast<int>(budget));
}

QSize FlipreelItem::sourceSize() const {
  d_->AwaitLoad();
  return d_->bounds_.size();
}

int FlipreelItem::frameDelay(int frame) const {
  d_->AwaitLoad();
  const ImageArray& frames = d_->control_->imgBuffer();
  if (frame < 0 || frame >= d_->frame_count_ || !frames.Exists(frame)) return -1;
  const QString tag = QString::fromStdU16String(frames(frame).tag());
  bool ok = false;
  const int delay = tag.toInt(&ok);
  return ok ? delay : -1;
}

qint64 FlipreelItem::ticksTaken() const {
  return d_->host_.ticks_delivered();
}

void FlipreelItem::start() {
  d_->Call([&] { d_->control_->StartAnimation(); });
}

void FlipreelItem::stop() {
  d_->Call([&] { d_->control_->StopAnimation(); });
}

bool FlipreelItem::jumpTo(int frame) {
  d_->FinishLoad();
  const bool reached = d_->Jump(frame);
  d_->Announce();
  d_->ConvertAhead();
  return reached;
}

// --- painting ---------------------------------------------------------------------

QSGNode* FlipreelItem::updatePaintNode(QSGNode* old, UpdatePaintNodeData*) {
  FlipreelItemPrivate& d = *d_;
  auto* node = static_cast<FrameNode*>(old);
  const Image& shown = d.control_->imgGif();
  const bool preview = d.ShowsPreview();
  const Picture& picture = d.ToShow();
  if (!node) node = new FrameNode(*window());
  // The frame's place in the box all frames lie in, mapped into the item by
  // the fill mode and the alignment.
  const QRectF box = d.bounds_.isEmpty() || preview
                         ? QRectF(QPointF(0, 0), QSizeF(picture.width(), picture.height()))
                         : QRectF(d.bounds_);
  QRectF frame_rect =
      d.shown_ >= 0 && !preview
          ? QRectF(FlipreelItemPrivate::FrameRect(d.control_->imgBuffer()(d.shown_)))
          : QRectF(box.topLeft(), QSizeF(picture.width(), picture.height()));
  const QRectF item(0, 0, width(), height());
  double sx = 1, sy = 1;
  if (!box.isEmpty()) {
    switch (d.fill_mode_) {
      case Stretch:
        sx = item.width() / box.width();
        sy = item.height() / box.height();
        break;
      case PreserveAspectFit:
        sx = sy = std::min(item.width() / box.width(), item.height() / box.height());
        break;
      case PreserveAspectCrop:
        sx = sy = std::max(item.width() / box.width(), item.height() / box.height());
        break;
      case Pad:
        break;
    }
  }
  const QSizeF scaled(box.width() * sx, box.height() * sy);
  // Placed on whole pixels as Image places its picture (centred rounds
  // towards the start, right and bottom away from it), so that a frame that
  // is not scaled draws pixel for pixel rather than blended across pixels.
  // An offset a rounding error away from a whole pixel is that pixel.
  auto whole = [](double offset, bool up) {
    const double nearest = std::round(offset);
    if (std::abs(offset - nearest) < 1e-6) return nearest;
    return up ? std::ceil(offset) : std::trunc(offset);
  };
  double x = 0, y = 0;
  if (d.halign_ == AlignHCenter) x = whole((item.width() - scaled.width()) / 2, false);
  if (d.halign_ == AlignRight) x = whole(item.width() - scaled.width(), true);
  if (d.valign_ == AlignVCenter) y = whole((item.height() - scaled.height()) / 2, false);
  if (d.valign_ == AlignBottom) y = whole(item.height() - scaled.height(), true);
  QRectF target((frame_rect.left() - box.left()) * sx + x, (frame_rect.top() - box.top()) * sy + y,
                frame_rect.width() * sx, frame_rect.height() * sy);
  // What falls outside the item is cut off, from the picture as well.
  const QRectF visible = target & item;
  QRectF source(0, 0, picture.width(), picture.height());
  if (!visible.isEmpty() && visible != target) {
    source = QRectF((visible.left() - target.left()) / sx, (visible.top() - target.top()) / sy,
                    visible.width() / sx, visible.height() / sy);
  }
  QImage copy;
  if (d.copy_.picture.data() == picture.data()) copy = std::move(d.copy_.image);
  d.copy_ = {};
  if (!node->Show(shown.visible() ? picture : Picture(), std::move(copy), visible, source,
                  d.smooth_, d.KeptBudget(), preview)) {
    // The node no longer holds what it was seen to: a copy is made for it.
    QMetaObject::invokeMethod(
        this, [this] { d_->Redraw(true); }, Qt::QueuedConnection);
  }
  if (node->textured_serial() != d.textured_serial_) {
    d.textured_ = node->ListTextured();
    d.textured_serial_ = node->textured_serial();
  }
  return node;
}

}  // namespace flipreel
