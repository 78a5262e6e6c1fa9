// The visual elements a control is built from: images, shapes, image arrays
// and a timer. They are plain data owned by the control; the host observes
// every change through its ElementSite (to repaint, or to schedule the timer)
// and supplies the screen's twips per pixel. All geometry is in twips.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "flipreel/host/picture.h"
#include "flipreel/host/text.h"

namespace flipreel {

class Element;

enum class ElementProperty : uint8_t {
  kPicture,
  kLeft,
  kTop,
  kWidth,
  kHeight,
  kStretch,
  kVisible,
  kTag,
  kBackStyle,
  kBackColor,
  kBorderStyle,
  kBorderColor,
  kEnabled,
  kInterval,
  kLoaded,    // an array element was created
  kUnloaded,  // an array element was removed
};

enum class ElementKind : uint8_t { kImage, kShape, kTimer };

class ElementSite {
 public:
  virtual ~ElementSite() = default;
  virtual float TwipsPerPixelX() const = 0;
  virtual float TwipsPerPixelY() const = 0;
  virtual void ElementChanged(const Element& element, ElementProperty what) = 0;
  // The element is being destroyed: a site that keeps a pointer to it drops
  // it here. The site outlives every element on it.
  virtual void ElementDestroyed(const Element& /*element*/) {}
};

class Element {
 public:
  Element(ElementSite& site, std::string name, int16_t index = -1)
      : site_(&site), name_(std::move(name)), index_(index) {}
  virtual ~Element() { site_->ElementDestroyed(*this); }
  Element(const Element&) = delete;
  Element& operator=(const Element&) = delete;

  virtual ElementKind kind() const = 0;
  const std::string& name() const { return name_; }
  int16_t index() const { return index_; }  // -1 outside an array

 protected:
  void Changed(ElementProperty what) { site_->ElementChanged(*this, what); }
  ElementSite* site_;

 private:
  std::string name_;
  int16_t index_;
};

// An image element. With Stretch off, a new non-empty picture sizes the
// element to the picture; the empty picture leaves the size as it was. A
// negative width or height is an invalid property value.
class Image : public Element {
 public:
  using Element::Element;
  ElementKind kind() const override { return ElementKind::kImage; }

  const Picture& picture() const { return picture_; }
  float left() const { return left_; }
  float top() const { return top_; }
  float width() const { return width_; }
  float height() const { return height_; }
  bool stretch() const { return stretch_; }
  bool visible() const { return visible_; }
  const Text& tag() const { return tag_; }

  void set_picture(Picture picture);
  void set_left(float v);
  void set_top(float v);
  void set_width(float v);
  void set_height(float v);
  void set_stretch(bool v);
  void set_visible(bool v);
  void set_tag(Text v);

  // Copies every property but Visible from another image, without notices.
  void CopyFrom(const Image& other);

 private:
  friend class ImageArray;
  // Counts a change of Left or Top in the array's count, when in an array.
  void Moved() {
    if (moves_) ++*moves_;
  }
  uint64_t* moves_ = nullptr;  // the array's count of moves; null outside an array
  Picture picture_;
  float left_ = 0, top_ = 0, width_ = 0, height_ = 0;
  bool stretch_ = false;
  bool visible_ = true;
  Text tag_;
};

// A shape element (a rectangle). BackStyle 0 is transparent, 1 opaque;
// BorderStyle 0 draws no outline, 1 a solid one, 2..6 dashed and dotted
// outlines. Other style values are refused as invalid property values.
class Shape : public Element {
 public:
  using Element::Element;
  ElementKind kind() const override { return ElementKind::kShape; }

  float left() const { return left_; }
  float top() const { return top_; }
  float width() const { return width_; }
  float height() const { return height_; }
  int16_t back_style() const { return back_style_; }
  int32_t back_color() const { return back_color_; }
  int16_t border_style() const { return border_style_; }
  int32_t border_color() const { return border_color_; }
  bool visible() const { return visible_; }

  void set_left(float v);
  void set_top(float v);
  void set_width(float v);
  void set_height(float v);
  void set_back_style(int16_t v);
  void set_back_color(int32_t v);
  void set_border_style(int16_t v);
  void set_border_color(int32_t v);
  void set_visible(bool v);

 private:
  float left_ = 0, top_ = 0, width_ = 0, height_ = 0;
  int16_t back_style_ = 0;
  int32_t back_color_ = 0;
  int16_t border_style_ = 0;
  int32_t border_color_ = 0;
  bool visible_ = true;
};

// The timer element. Interval is in milliseconds; 0 never ticks, a negative
// interval is refused. Setting the interval or switching the timer on starts
// a fresh interval; the host does the ticking.
class Timer : public Element {
 public:
  using Element::Element;
  ElementKind kind() const override { return ElementKind::kTimer; }

  bool enabled() const { return enabled_; }
  int32_t interval() const { return interval_; }
  void set_enabled(bool v);
  void set_interval(int32_t v);

 private:
  bool enabled_ = false;
  int32_t interval_ = 0;
};

// An array of image elements, indexed by 16-bit numbers. Element 0 is created
// with the array and can never be removed. A new element copies every
// property of element 0 except Visible, which starts False.
class ImageArray {
 public:
  ImageArray(ElementSite& site, std::string name);

  Image& operator()(int32_t index);  // missing element: error 340
  const Image& operator()(int32_t index) const;
  bool Exists(int32_t index) const;
  void Load(int32_t index);    // existing: error 360
  void Unload(int32_t index);  // element 0: error 362; missing: error 340
  int32_t count() const { return count_; }
  int32_t UBound() const { return static_cast<int32_t>(elements_.size()) - 1; }
  const std::string& name() const { return name_; }
  // Goes up whenever an element's Left or Top may have changed, or an element
  // was created or removed: what the frames' extent is worked out from.
  uint64_t moves() const { return *moves_; }

 private:
  ElementSite* site_;
  std::string name_;
  // On the heap, so that the elements' pointers to it survive a move of the array.
  std::unique_ptr<uint64_t> moves_ = std::make_unique<uint64_t>(0);
  std::vector<std::unique_ptr<Image>> elements_;  // nullptr where an index is free
  int32_t count_ = 0;
};

}  // namespace flipreel
