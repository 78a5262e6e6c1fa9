// The Flipreel QML type: the control as a Qt Quick item, drawn through the
// scene graph. Each frame the item shows becomes one texture, uploaded once
// and reused while it fits the texture budget; a tick only swaps the texture
// of one image node. Errors are values (status, errorString, errorNumber),
// never message boxes. An item that cannot be seen (hidden, without a window,
// clipped away, outside its window or wholly transparent) runs no timer.
#pragma once

#include <QtQml/qqmlregistration.h>
#include <QQuickItem>
#include <QSize>
#include <QString>
#include <QUrl>
#include <memory>

namespace flipreel {

class FlipreelItemPrivate;

class FlipreelItem : public QQuickItem {
  Q_OBJECT
  QML_NAMED_ELEMENT(Flipreel)

  Q_PROPERTY(QUrl source READ source WRITE setSource NOTIFY sourceChanged)
  Q_PROPERTY(Status status READ status NOTIFY statusChanged)
  Q_PROPERTY(qreal progress READ progress NOTIFY progressChanged)
  Q_PROPERTY(QString errorString READ errorString NOTIFY errorStringChanged)
  Q_PROPERTY(int errorNumber READ errorNumber NOTIFY errorNumberChanged)
  Q_PROPERTY(bool playing READ playing WRITE setPlaying NOTIFY playingChanged)
  Q_PROPERTY(bool paused READ paused WRITE setPaused NOTIFY pausedChanged)
  Q_PROPERTY(int currentFrame READ currentFrame WRITE setCurrentFrame NOTIFY frameChanged)
  Q_PROPERTY(int frameCount READ frameCount NOTIFY frameCountChanged)
  Q_PROPERTY(qreal speed READ speed WRITE setSpeed NOTIFY speedChanged)
  Q_PROPERTY(Sequence sequence READ sequence WRITE setSequence NOTIFY sequenceChanged)
  Q_PROPERTY(int loops READ loops WRITE setLoops NOTIFY loopsChanged)
  Q_PROPERTY(bool composed READ composed WRITE setComposed NOTIFY composedChanged)
  Q_PROPERTY(FillMode fillMode READ fillMode WRITE setFillMode NOTIFY fillModeChanged)
  Q_PROPERTY(HAlignment horizontalAlignment READ horizontalAlignment WRITE setHorizontalAlignment
                 NOTIFY horizontalAlignmentChanged)
  Q_PROPERTY(VAlignment verticalAlignment READ verticalAlignment WRITE setVerticalAlignment NOTIFY
                 verticalAlignmentChanged)
  Q_PROPERTY(bool smooth READ smooth WRITE setSmooth NOTIFY smoothChanged)
  Q_PROPERTY(QSize sourceSize READ sourceSize NOTIFY sourceSizeChanged)
  Q_PROPERTY(bool asynchronous READ asynchronous WRITE setAsynchronous NOTIFY asynchronousChanged)
  Q_PROPERTY(bool pauseWhenHidden READ pauseWhenHidden WRITE setPauseWhenHidden NOTIFY
                 pauseWhenHiddenChanged)
  Q_PROPERTY(
      int textureBudget READ textureBudget WRITE setTextureBudget NOTIFY textureBudgetChanged)

 public:
  // Each enumeration has int as its type, so that any number QML or C++
  // hands a setter is a value it can hold and the setter can refuse.
  enum Status : int { Null, Ready, Loading, Error };
  Q_ENUM(Status)
  enum Sequence : int { Normal = 0, Reverse = 1, Random = 2, PingPong = 3 };
  Q_ENUM(Sequence)
  // The values of Image.FillMode.
  enum FillMode : int { Stretch = 0, PreserveAspectFit = 1, PreserveAspectCrop = 2, Pad = 6 };
  Q_ENUM(FillMode)
  enum HAlignment : int {
    AlignLeft = Qt::AlignLeft,
    AlignRight = Qt::AlignRight,
    AlignHCenter = Qt::AlignHCenter
  };
  Q_ENUM(HAlignment)
  enum VAlignment : int {
    AlignTop = Qt::AlignTop,
    AlignBottom = Qt::AlignBottom,
    AlignVCenter = Qt::AlignVCenter
  };
  Q_ENUM(VAlignment)

  explicit FlipreelItem(QQuickItem* parent = nullptr);
  ~FlipreelItem() override;

  QUrl source() const;
  void setSource(const QUrl& source);
  Status status() const;
  qreal progress() const;
  QString errorString() const;
  int errorNumber() const;
  bool playing() const;
  void setPlaying(bool playing);
  bool paused() const;
  void setPaused(bool paused);
  int currentFrame() const;
  void setCurrentFrame(int frame);
  int frameCount() const;
  qreal speed() const;
  void setSpeed(qreal speed);
  Sequence sequence() const;
  void setSequence(Sequence sequence);
  int loops() const;
  void setLoops(int loops);
  bool composed() const;
  void setComposed(bool composed);
  FillMode fillMode() const;
  void setFillMode(FillMode mode);
  HAlignment horizontalAlignment() const;
  void setHorizontalAlignment(HAlignment alignment);
  VAlignment verticalAlignment() const;
  void setVerticalAlignment(VAlignment alignment);
  bool smooth() const;
  void setSmooth(bool smooth);
  QSize sourceSize() const;
  // Files and resources load with their frames composed on another thread,
  // `status` Loading meanwhile (downloads always do). Off by default, as for
  // Image: a load is done when the assignment of `source` returns.
  bool asynchronous() const;
  void setAsynchronous(bool asynchronous);
  // On by default: while the item cannot be seen it takes no ticks, and
  // shown again it catches up. Off, it plays wherever it is, for an item
  // that an effect shows elsewhere (a ShaderEffectSource's sourceItem).
  bool pauseWhenHidden() const;
  void setPauseWhenHidden(bool pause);
  // The bytes the textures of frames not on show may take for reuse (64 MB
  // by default). When the frames together take more, none is kept: each is
  // uploaded when it is shown (with OpenGL, into one texture written over
  // in place). Negative values are taken as 0.
  int textureBudget() const;
  void setTextureBudget(int bytes);

  // The delay of frame i in milliseconds; -1 for a frame that is not there.
  Q_INVOKABLE int frameDelay(int frame) const;

  // Ticks the item has taken, for tests and benchmarks.
  qint64 ticksTaken() const;

 public slots:
  void start();
  void stop();
  // Shows frame i by running the animation on in its order until frame i is
  // on show, as if that time had passed; false when the order does not reach
  // it within two passes (Random order, or no such frame).
  bool jumpTo(int frame);

 signals:
  // The NOTIFY signals carry the new value unnamed: QML injects a signal's
  // named parameters into its handlers, with a deprecation warning each time
  // a handler reads one, and a handler reads its own property by name
  // (onStatusChanged: if (status === Flipreel.Error) ...).
  void sourceChanged(const QUrl&);
  void statusChanged(Status);
  void progressChanged(qreal);
  void errorStringChanged(const QString&);
  void errorNumberChanged(int);
  void playingChanged(bool);
  void pausedChanged(bool);
  void frameChanged();
  void frameCountChanged(int);
  void speedChanged(qreal);
  void sequenceChanged(Sequence);
  void loopsChanged(int);
  void composedChanged(bool);
  void fillModeChanged(FillMode);
  void horizontalAlignmentChanged(HAlignment);
  void verticalAlignmentChanged(VAlignment);
  void smoothChanged(bool);
  void sourceSizeChanged(const QSize&);
  void asynchronousChanged(bool);
  void pauseWhenHiddenChanged(bool);
  void textureBudgetChanged(int);
  // Play has ended (after the last pass of `loops`).
  void finished();

 protected:
  QSGNode* updatePaintNode(QSGNode* old, UpdatePaintNodeData* data) override;
  void itemChange(ItemChange change, const ItemChangeData& value) override;
  void componentComplete() override;

 private:
  friend class FlipreelItemPrivate;
  std::unique_ptr<FlipreelItemPrivate> d_;
};

}  // namespace flipreel
