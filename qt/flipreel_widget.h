// FlipreelWidget: the Flipreel control as a Qt widget.
//
// The widget owns a Flipreel control and the QtHost it is sited on, and
// paints the control's elements bottom to top: shpBackGround, imgBackGround,
// imgGif, shpBorder (the frame store imgBuffer is never shown). Every
// property, method and event of the control is reachable from Qt: one
// Q_PROPERTY per property under the control's own name, slots and invokable
// methods for the methods, signals for the events.
//
// Errors. Qt properties and slots cannot throw, so a host error raised by a
// member called through the widget is kept as lastError() (cleared at the
// start of every such call) and announced with errorRaised; the member stops
// where the error arose, as it does for any caller. Errors the control raises
// inside a timer tick, a resize or a download report, where there is no
// caller, are announced the same way and logged with qWarning.
//
// Notices. Every property has a NOTIFY signal carrying the new value. It is
// emitted once the call through the widget or the host event (a tick, a
// resize, a download report) that changed the value has ended, whoever
// changed it: the setter, the control itself (a load sets FrameRate and
// Frames, a tick CurrentFrame) or a restore. propertyNotified is the control's
// own notice that the form is modified.
//
// Loads and messages. The control tells of trouble with message boxes in a few
// places and not at all in others (a file it cannot read or split simply
// leaves it empty). The widget tells code of both: messageShown for every
// message the control shows, and loadFailed, with a host error number and
// description, for every load after which the control holds no GIF (lastError
// then holds the same). showMessageBoxes chooses whether the boxes are shown
// as well (by default they are, as the control always shows them).
//
// Loads that leave the event loop free. A large GIF assigned to FlipreelFile,
// given to loadFromData, downloaded, or held in a saved state is read on
// another thread and its frames decode on others; the control's load then
// takes the frames from the event loop, a few at a time, or all at once at
// the next call through the widget that changes something, mouse press or
// download report, and gives exactly what it would have given inside the
// call. Reading a property meanwhile waits for the load and gives its final
// value; the load's signals and boxes then come from the event loop.
// Destroying the widget cancels the load. Until it is finished the widget
// paints what it showed before, then the new first frame as soon as it is
// decoded, and holds the earlier animation's ticks back. docs/qt.md has the
// details.
//
// Conveniences for Qt applications are named the Qt way (loadFromData,
// frameShown, ...); the control's own members keep the control's names.
//
// Hit testing. A mouse press asks the control's HitTest event whether the
// point belongs to the control. The result starts as 3 (hit) where the
// control paints a non-transparent pixel and 0 (outside) elsewhere; a client
// may change it with setHitResult while handling HitTest. For 0 (outside) and
// 1 (transparent) the press, and the moves and release that follow it, go to
// the widget below the control, as if the control were not there.
#pragma once

#include <QColor>
#include <QImage>
#include <QPixmap>
#include <QPointF>
#include <QString>
#include <QWidget>
#include <memory>

class QIODevice;

namespace flipreel {

// A host error as Qt clients see it. Number 0 means no error.
struct FlipreelError {
  int number = 0;
  QString description;
  explicit operator bool() const { return number != 0; }
};

// The record of an asynchronous read, as the AsyncReadProgress and
// AsyncReadComplete signals carry it.
struct FlipreelAsyncProp {
  Q_GADGET
  Q_PROPERTY(QString PropertyName MEMBER PropertyName)
  Q_PROPERTY(int AsyncType MEMBER AsyncType)
  Q_PROPERTY(QString Target MEMBER Target)
  Q_PROPERTY(qint64 BytesRead MEMBER BytesRead)
  Q_PROPERTY(qint64 BytesMax MEMBER BytesMax)
  Q_PROPERTY(int Status MEMBER Status)
  Q_PROPERTY(QString StatusText MEMBER StatusText)
  Q_PROPERTY(QString Value MEMBER Value)
  Q_PROPERTY(int ErrorNumber MEMBER ErrorNumber)
  Q_PROPERTY(QString ErrorDescription MEMBER ErrorDescription)
 public:
  QString PropertyName;
  int AsyncType = 0;
  QString Target;
  qint64 BytesRead = 0;
  qint64 BytesMax = 0;
  int Status = 0;  // 1 connecting, 2 downloading, 3 completed, 4 failed
  QString StatusText;
  QString Value;  // the local file's path; empty when the read failed
  int ErrorNumber = 0;
  QString ErrorDescription;
};

// The widget's properties that have a NOTIFY signal, one row each, in the
// order of their Q_PROPERTY lines:
//
//   X(source, Qt type, name, setter)
//
// A row declares the getter name(), the setter that uic calls and the NOTIFY
// signal nameChanged(value), and has every change of the value announced.
// Where the getter and the setter come from:
//   FORWARD      the control's members of the same name, with the value
//                converted between Qt's type and the control's;
//   FORWARD_GET  the control's getter; the setter is written by hand (it loads);
//   OWN          both written by hand, with how the value is watched.
// A property of the control takes its Q_PROPERTY line and one FORWARD row.
//
// BackColor and BorderColor are QColors to Qt, so that Designer edits them
// with its colour picker and uic's code sets them from a form's <color>. The
// control's own value, which may name a system colour, stays the truth: the
// getter gives the colour it paints with now (a system colour resolved
// through the widget's palette, so the value and its NOTIFY signal follow a
// palette change); the setter sets that colour as red, green and blue, and a
// colour equal to the one shown changes nothing, so writing back the colour
// read keeps a system colour. backColorValue() and borderColorValue() give
// and take the control's values, system colours included.
// BackGroundGraphic is a QPixmap to Qt, for Designer's pixmap editor and a
// form's <pixmap>; it also takes a QImage.
//
// CurrentFrame is watched as the frame index itself, which may pass 16 bits.
// Composed is composed playback: whole pictures, each for its own delay. A
// new widget composes; a restored saved state (a form) composes only when it
// was saved composing, so a form saved classic, or by a control that does not
// know the property, restores the classic control. A classic load of a GIF
// whose frames would look different composed says so with a qWarning.
// UserMode is the host's ambient value, false in a designer. PaintCacheBudget
// is the bytes of paint-ready frame copies kept besides those of the frames
// on show and about to be shown (default 0: frames stay compact, and the one
// on show is converted when painted, once for all widgets that show it).
// showMessageBoxes: whether the control's message boxes are shown (default
// true); messageShown comes either way. seeThrough: the widget paints no
// surface of its own, so with BackStyle 0 the parent shows wherever the GIF
// (or the border) is not painted, and mouse presses there go to the widget
// below. pauseWhenHidden: while the widget cannot be seen (hidden, behind
// another tab, scrolled out of a scroll area's viewport, in a minimised
// window) the control takes no ticks and paints nothing; seen again, it
// catches up at once and plays on in step, as if it had played all along.
// By default it follows Composed: on for composed playback, off for the
// classic control, whose Frame event then keeps coming; reset goes back to
// that.
#define FLIPREEL_WIDGET_PROPERTIES(X)                      \
  X(FORWARD_GET, QString, FlipreelFile, setFlipreelFile)   \
  X(FORWARD, int, FrameRate, setFrameRate)                 \
  X(FORWARD, bool, AutoSize, setAutoSize)                  \
  X(FORWARD, int, Sequence, setSequence)                   \
  X(FORWARD, bool, Stretch, setStretch)                    \
  X(OWN, QColor, BorderColor, setBorderColor)              \
  X(FORWARD, int, AutoRewind, setAutoRewind)               \
  X(FORWARD, bool, Playing, setPlaying)                    \
  X(FORWARD, bool, AutoStart, setAutoStart)                \
  X(OWN, QColor, BackColor, setBackColor)                  \
  X(FORWARD, int, BackStyle, setBackStyle)                 \
  X(OWN, QPixmap, BackGroundGraphic, setBackGroundGraphic) \
  X(FORWARD, int, BorderStyle, setBorderStyle)             \
  X(FORWARD, int, Frames, setFrames)                       \
  X(OWN, int, CurrentFrame, setCurrentFrame)               \
  X(FORWARD_GET, QString, GifFromURL, setGifFromURL)       \
  X(FORWARD, QString, ServerUserName, setServerUserName)   \
  X(FORWARD, QString, ServerPassword, setServerPassword)   \
  X(FORWARD, bool, Composed, setComposed)                  \
  X(OWN, bool, UserMode, setUserMode)                      \
  X(OWN, qint64, PaintCacheBudget, setPaintCacheBudget)    \
  X(OWN, bool, showMessageBoxes, setShowMessageBoxes)      \
  X(OWN, bool, seeThrough, setSeeThrough)                  \
  X(OWN, bool, pauseWhenHidden, setPauseWhenHidden)

class FlipreelWidgetPrivate;

class FlipreelWidget : public QWidget {
  Q_OBJECT
  // FlipreelFile is the widget's user property, the value it stands for.
  Q_PROPERTY(QString FlipreelFile READ FlipreelFile WRITE setFlipreelFile
                 STORED false NOTIFY FlipreelFileChanged USER true)
  Q_PROPERTY(int FrameRate READ FrameRate WRITE setFrameRate STORED false NOTIFY FrameRateChanged)
  Q_PROPERTY(bool AutoSize READ AutoSize WRITE setAutoSize STORED false NOTIFY AutoSizeChanged)
  Q_PROPERTY(int Sequence READ Sequence WRITE setSequence STORED false NOTIFY SequenceChanged)
  Q_PROPERTY(bool Stretch READ Stretch WRITE setStretch STORED false NOTIFY StretchChanged)
  Q_PROPERTY(QColor BorderColor READ BorderColor WRITE setBorderColor RESET resetBorderColor
                 STORED false NOTIFY BorderColorChanged)
  Q_PROPERTY(
      int AutoRewind READ AutoRewind WRITE setAutoRewind STORED false NOTIFY AutoRewindChanged)
  Q_PROPERTY(bool Playing READ Playing WRITE setPlaying STORED false NOTIFY PlayingChanged)
  Q_PROPERTY(bool AutoStart READ AutoStart WRITE setAutoStart STORED false NOTIFY AutoStartChanged)
  Q_PROPERTY(QColor BackColor READ BackColor WRITE setBackColor RESET resetBackColor
                 STORED false NOTIFY BackColorChanged)
  Q_PROPERTY(int BackStyle READ BackStyle WRITE setBackStyle STORED false NOTIFY BackStyleChanged)
  Q_PROPERTY(QPixmap BackGroundGraphic READ BackGroundGraphic WRITE setBackGroundGraphic
                 STORED false NOTIFY BackGroundGraphicChanged)
  Q_PROPERTY(
      int BorderStyle READ BorderStyle WRITE setBorderStyle STORED false NOTIFY BorderStyleChanged)
  Q_PROPERTY(int Frames READ Frames WRITE setFrames STORED false NOTIFY FramesChanged)
  Q_PROPERTY(int CurrentFrame READ CurrentFrame WRITE setCurrentFrame
                 STORED false NOTIFY CurrentFrameChanged)
  Q_PROPERTY(
      QString GifFromURL READ GifFromURL WRITE setGifFromURL STORED false NOTIFY GifFromURLChanged)
  Q_PROPERTY(QString ServerUserName READ ServerUserName WRITE setServerUserName
                 STORED false NOTIFY ServerUserNameChanged)
  // Not offered to a designer's property editor, which would show it in clear.
  Q_PROPERTY(QString ServerPassword READ ServerPassword WRITE setServerPassword
                 STORED false DESIGNABLE false NOTIFY ServerPasswordChanged)
  Q_PROPERTY(bool Composed READ Composed WRITE setComposed STORED false NOTIFY ComposedChanged)
  // The widget's own settings. The properties above are not stored one by
  // one in form files: SavedState carries them all, and restoring it runs
  // the control's ReadProperties rather than each setter. UserMode is the
  // host's ambient value, set by whoever creates the widget.
  // UserMode and PaintCacheBudget belong to whoever hosts the widget; a
  // designer does not edit them.
  Q_PROPERTY(bool UserMode READ UserMode WRITE setUserMode
                 STORED false DESIGNABLE false NOTIFY UserModeChanged)
  // The control's whole saved state as one text, the way form files (.ui)
  // carry it; docs/designer.md describes it. The setter's name follows Qt's
  // convention, which code generated from form files calls.
  Q_PROPERTY(QString SavedState READ SavedState WRITE setSavedState DESIGNABLE false)
  Q_PROPERTY(qint64 PaintCacheBudget READ PaintCacheBudget WRITE setPaintCacheBudget
                 DESIGNABLE false NOTIFY PaintCacheBudgetChanged)
  // Conveniences for Qt applications.
  Q_PROPERTY(bool showMessageBoxes READ showMessageBoxes WRITE setShowMessageBoxes NOTIFY
                 showMessageBoxesChanged)
  Q_PROPERTY(bool seeThrough READ seeThrough WRITE setSeeThrough NOTIFY seeThroughChanged)
  Q_PROPERTY(bool pauseWhenHidden READ pauseWhenHidden WRITE setPauseWhenHidden RESET
                 resetPauseWhenHidden NOTIFY pauseWhenHiddenChanged)

 public:
  // Values of the control's enumerations.
  enum SequenceValues { Normal = 0, Reverse = 1, Random = 2, PingPong = 3 };
  Q_ENUM(SequenceValues)
  enum StyleValues { Transparent = 0, Opaque = 1, Solid = 1 };
  Q_ENUM(StyleValues)

  // A new control (its properties initialised), at run time. Designers call
  // setUserMode(false) before they change anything.
  explicit FlipreelWidget(QWidget* parent = nullptr);
  ~FlipreelWidget() override;

  // --- properties -------------------------------------------------------------
  // The getter, the setter and the NOTIFY signal of every row of
  // FLIPREEL_WIDGET_PROPERTIES (above); BackGroundGraphic also takes an image.
#define FLIPREEL_WIDGET_ACCESSORS(source, Type, Name, setName) \
  Type Name() const;                                           \
  void setName(Type value);
  FLIPREEL_WIDGET_PROPERTIES(FLIPREEL_WIDGET_ACCESSORS)
#undef FLIPREEL_WIDGET_ACCESSORS
  void setBackGroundGraphic(const QImage& image);
  // The control's colour values (red in the low byte; 0x8000000F-style values
  // name system colours), as the control, its pages and saved forms keep them.
  int backColorValue() const;
  void setBackColorValue(int value);
  int borderColorValue() const;
  void setBorderColorValue(int value);
  // A new control's colours: the button face (a system colour) and black.
  void resetBackColor();
  void resetBorderColor();
  void resetPauseWhenHidden();

  // --- frame queries (pixels; a missing frame is error 340) -------------------
  Q_INVOKABLE float FrameWidth(int frame);
  Q_INVOKABLE float FrameHeight(int frame);
  Q_INVOKABLE float FrameLeft(int frame);
  Q_INVOKABLE float FrameTop(int frame);
  // The frame's picture, ready to paint; a null image for the empty picture.
  Q_INVOKABLE QImage GetFrame(int frame);

  // --- the widget's own -------------------------------------------------------
  FlipreelError lastError() const;
  // Valid only while a HitTest signal is being handled.
  void setHitResult(int result);
  int hitResult() const;

  // Saved-form files (JSON files of controls' bags). loadForm restores this
  // control from the form's control of that name, or from its first Flipreel
  // control when the name is empty. saveForm writes this control into the
  // form under that name, replacing a control of that name or adding one to
  // a form that exists; the file is written atomically, and a file that is
  // not a saved form is never overwritten. False, with lastError(), when the
  // form cannot be read, restored or written.
  bool loadForm(const QString& path, const QString& control_name = {});
  bool saveForm(const QString& path, const QString& control_name);
  // The saved state as a saved form holding this one control (its name is
  // the widget's objectName, or "Flipreel1"). Setting it restores the control
  // through ReadProperties; an empty text leaves the control as it is. An
  // empty text is returned, with a warning, when the state cannot be saved.
  QString SavedState() const;
  void setSavedState(const QString& state);

  // --- conveniences for Qt applications ---------------------------------------
  // Loads a GIF from memory or from a device (read to its end; opened for
  // reading when it is not open) through the control's own loading path: the
  // bytes become the control's GIF exactly as a file's would. FlipreelFile
  // also takes Qt resource paths (":/a.gif", "qrc:/a.gif"), loaded the same
  // way. The bytes are shared, not copied. A GIF of 64 KB or more is loaded
  // as a large file is, after the call (see above): true then means the load
  // has begun, and loaded or loadFailed tells how it ended (lastError waits
  // for it). A smaller one is loaded inside the call: true when the control
  // loaded the GIF without trapping an error, else loadFailed has been
  // emitted.
  bool loadFromData(const QByteArray& data);
  bool loadFromDevice(QIODevice* device);
  // The most memory, in bytes, the control's pictures may take together. By
  // default it follows the GIF loaded: 640 MB plus 32 bytes for every byte of
  // the file, at most a quarter of the machine's memory or 2 GB; a GIF that
  // needs more fails to load with error 7. A value set here replaces the
  // rule, higher or lower; 0 goes back to it.
  qint64 memoryBudget() const;
  void setMemoryBudget(qint64 bytes);
  // The control's size: with AutoSize the GIF's (plus the border).
  QSize sizeHint() const override;

 public slots:
  void StartAnimation();
  void StopAnimation();
  void RemoveGif();
  void CancelAsyncRead();
  void ShowAbout();

 signals:
  // The control's events.
  void Frame();
  void ReadFinished();
  void PlayFinished();
  void AsyncReadComplete(const flipreel::FlipreelAsyncProp& prop);
  void AsyncReadProgress(const flipreel::FlipreelAsyncProp& prop);
  // X and Y in twips from the control's top left corner. Handled through a
  // direct connection, a client may call setHitResult.
  void HitTest(float X, float Y, int HitResult);
  // The control announced a property change (the form is now modified).
  void propertyNotified(const QString& name);
  // A host error: from a call through the widget, or from a host event.
  void errorRaised(int number, const QString& description);

  // The properties' NOTIFY signals, NameChanged(value) for every row of
  // FLIPREEL_WIDGET_PROPERTIES.
#define FLIPREEL_WIDGET_NOTIFY(source, Type, Name, setName) void Name##Changed(Type value);
  FLIPREEL_WIDGET_PROPERTIES(FLIPREEL_WIDGET_NOTIFY)
#undef FLIPREEL_WIDGET_NOTIFY

  // Conveniences for Qt applications.
  // Every message the control shows: text, style (16 critical, 48 warning,
  // 64 information) and title, whether or not a box appears.
  void messageShown(const QString& text, int style, const QString& title);
  // A load (a file, a resource, bytes, a device, a download, a saved form)
  // after which the control holds no GIF, or whose assignment raised an
  // error: why, as a host error (53 no such file, 70 cannot be read, 75 a
  // folder, 481 not a GIF the control can show, a download's number, ...).
  void loadFailed(int number, const QString& description);
  // The same loads when the control holds the GIF afterwards.
  void loaded();
  // The frame the control shows changed: its index, after a load (0) and
  // after every step that shows another frame.
  void frameShown(int frame);
  // HitTest's position in pixels from the control's top left corner; comes
  // right after HitTest, and a direct connection may call setHitResult.
  void hitTestAt(const QPointF& pos, int hitResult);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void changeEvent(QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  friend class FlipreelWidgetPrivate;
  std::unique_ptr<FlipreelWidgetPrivate> d_;
};

}  // namespace flipreel

Q_DECLARE_METATYPE(flipreel::FlipreelAsyncProp)
