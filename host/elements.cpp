#include "flipreel/host/elements.h"

#include <cmath>

#include "flipreel/host/errors.h"

namespace flipreel {

namespace {
void CheckSize(float v) {
  if (!(v >= 0) || !std::isfinite(v)) Raise(err::kInvalidPropertyValue);
}
void CheckPosition(float v) {
  if (!std::isfinite(v)) Raise(err::kInvalidPropertyValue);
}
}  // namespace

void Image::set_picture(Picture picture) {
  picture_ = std::move(picture);
  if (!stretch_ && !picture_.IsEmpty()) {
    width_ = static_cast<float>(picture_.width() * site_->TwipsPerPixelX());
    height_ = static_cast<float>(picture_.height() * site_->TwipsPerPixelY());
  }
  Changed(ElementProperty::kPicture);
}

void Image::set_left(float v) {
  CheckPosition(v);
  left_ = v;
  Moved();
  Changed(ElementProperty::kLeft);
}

void Image::set_top(float v) {
  CheckPosition(v);
  top_ = v;
  Moved();
  Changed(ElementProperty::kTop);
}

void Image::set_width(float v) {
  CheckSize(v);
  width_ = v;
  Changed(ElementProperty::kWidth);
}

void Image::set_height(float v) {
  CheckSize(v);
  height_ = v;
  Changed(ElementProperty::kHeight);
}

void Image::set_stretch(bool v) {
  stretch_ = v;
  Changed(ElementProperty::kStretch);
}

void Image::set_visible(bool v) {
  visible_ = v;
  Changed(ElementProperty::kVisible);
}

void Image::set_tag(Text v) {
  tag_ = std::move(v);
  Changed(ElementProperty::kTag);
}

void Image::CopyFrom(const Image& other) {
  picture_ = other.picture_;
  left_ = other.left_;
  top_ = other.top_;
  width_ = other.width_;
  height_ = other.height_;
  stretch_ = other.stretch_;
  tag_ = other.tag_;
  Moved();
}

void Shape::set_left(float v) {
  CheckPosition(v);
  left_ = v;
  Changed(ElementProperty::kLeft);
}

void Shape::set_top(float v) {
  CheckPosition(v);
  top_ = v;
  Changed(ElementProperty::kTop);
}

void Shape::set_width(float v) {
  CheckSize(v);
  width_ = v;
  Changed(ElementProperty::kWidth);
}

void Shape::set_height(float v) {
  CheckSize(v);
  height_ = v;
  Changed(ElementProperty::kHeight);
}

void Shape::set_back_style(int16_t v) {
  if (v < 0 || v > 1) Raise(err::kInvalidPropertyValue);
  back_style_ = v;
  Changed(ElementProperty::kBackStyle);
}

void Shape::set_back_color(int32_t v) {
  back_color_ = v;
  Changed(ElementProperty::kBackColor);
}

void Shape::set_border_style(int16_t v) {
  if (v < 0 || v > 6) Raise(err::kInvalidPropertyValue);
  border_style_ = v;
  Changed(ElementProperty::kBorderStyle);
}

void Shape::set_border_color(int32_t v) {
  border_color_ = v;
  Changed(ElementProperty::kBorderColor);
}

void Shape::set_visible(bool v) {
  visible_ = v;
  Changed(ElementProperty::kVisible);
}

void Timer::set_enabled(bool v) {
  enabled_ = v;
  Changed(ElementProperty::kEnabled);
}

void Timer::set_interval(int32_t v) {
  if (v < 0) Raise(err::kInvalidPropertyValue);
  interval_ = v;
  Changed(ElementProperty::kInterval);
}

ImageArray::ImageArray(ElementSite& site, std::string name) : site_(&site), name_(std::move(name)) {
  elements_.push_back(std::make_unique<Image>(site, name_, 0));
  elements_[0]->moves_ = moves_.get();
  count_ = 1;
}

bool ImageArray::Exists(int32_t index) const {
  return index >= 0 && index < static_cast<int32_t>(elements_.size()) && elements_[index];
}

Image& ImageArray::operator()(int32_t index) {
  if (!Exists(index)) Raise(err::kElementMissing);
  return *elements_[index];
}

const Image& ImageArray::operator()(int32_t index) const {
  if (!Exists(index)) Raise(err::kElementMissing);
  return *elements_[index];
}

void ImageArray::Load(int32_t index) {
  if (index < 0 || index > INT16_MAX) Raise(err::kElementMissing);
  if (Exists(index)) Raise(err::kAlreadyLoaded);
  if (index >= static_cast<int32_t>(elements_.size())) elements_.resize(index + 1);
  auto image = std::make_unique<Image>(*site_, name_, static_cast<int16_t>(index));
  image->moves_ = moves_.get();
  image->CopyFrom(*elements_[0]);
  image->visible_ = false;
  Image& created = *image;
  elements_[index] = std::move(image);
  ++count_;
  site_->ElementChanged(created, ElementProperty::kLoaded);
}

void ImageArray::Unload(int32_t index) {
  if (index == 0) Raise(err::kCantUnloadDesignElement);
  if (!Exists(index)) Raise(err::kElementMissing);
  std::unique_ptr<Image> removed = std::move(elements_[index]);
  ++*moves_;
  --count_;
  while (elements_.size() > 1 && !elements_.back()) elements_.pop_back();
  site_->ElementChanged(*removed, ElementProperty::kUnloaded);
}

}  // namespace flipreel
