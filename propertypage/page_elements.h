// The elements of a property page: plain data that the page's code changes
// and a host draws. Setting a value through PageElements behaves as the
// host's own elements do: a change of value raises the element's event
// synchronously, and setting a value the element already holds raises
// nothing, which is what lets a change handler set its own element's text.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "flipreel/host/picture.h"
#include "flipreel/host/text.h"

namespace flipreel {

enum class PageElementKind : uint8_t {
  kTextBox,
  kButton,
  kCheckBox,
  kFrame,
  kLabel,
  kDropDownList,  // a list whose text is always one of its items, or empty
  kOptionButton,  // one of a group: the option buttons of one parent
  kListBox,       // a list shown open, one item selected or none
  kImage,         // a picture, scaled down to fit the element
};

// Check-box values.
inline constexpr int16_t kUnchecked = 0;
inline constexpr int16_t kChecked = 1;
inline constexpr int16_t kGreyed = 2;

struct PageElement {
  // --- how the element is made ---------------------------------------------
  std::string name;
  PageElementKind kind;
  Text caption;  // buttons, check boxes, option buttons, frames, labels; "&" marks the access key
  float left, top, width, height;  // twips, relative to the parent
  int tab_index;
  std::string parent;                 // the frame it sits in; empty for the page itself
  bool editable = true;               // text boxes the user cannot type into are false
  std::optional<int32_t> back_color;  // a colour of its own instead of the host's default;
                                      // a label with one is a swatch of that colour

  // --- what it holds -----------------------------------------------------------
  Text text;                         // text boxes; a list's selected item
  int16_t value = 0;                 // check boxes 0, 1, 2; option buttons 0 or -1 (True)
  std::vector<Text> list;            // lists
  std::vector<int32_t> item_colors;  // a list of colours: each item's colour, drawn beside it
  int32_t list_index = -1;
  int32_t sel_start = 0;  // text boxes: the caret
  Picture picture;        // images
};

enum class PageEvent : uint8_t { kChange, kClick };

class PageElements {
 public:
  // Handlers run for every event the elements raise.
  using EventHandler = std::function<void(PageElement&, PageEvent)>;
  // Observers hear of every change, for hosts that draw the elements.
  using Observer = std::function<void(const PageElement&)>;

  explicit PageElements(std::vector<PageElement> elements) : elements_(std::move(elements)) {}

  void set_event_handler(EventHandler handler) { handler_ = std::move(handler); }
  void set_observer(Observer observer) { observer_ = std::move(observer); }

  std::span<const PageElement> all() const { return elements_; }
  PageElement& operator[](std::string_view name);  // unknown: error 340
  const PageElement& operator[](std::string_view name) const;

  // A text box's text: a new text puts the caret at 0 and raises Change.
  // A list's text selects the item of that exact text (error 383 when there
  // is none) and raises Click.
  void SetText(PageElement& e, TextView text);
  void SetSelStart(PageElement& e, int32_t position);
  // A check box's value (0, 1 or 2; others are error 380) raises Click when it
  // changes. An option button set to True clears the other buttons of its
  // group and raises Click; set to False it raises nothing.
  void SetValue(PageElement& e, int16_t value);
  // A list's selection; -1 selects nothing. A change raises Click.
  void SetListIndex(PageElement& e, int32_t index);
  void AddItem(PageElement& e, TextView item);
  // Replaces a list's items (and their colours, for a list of colours) and
  // selects nothing, raising no event, as emptying and refilling a list does.
  void SetItems(PageElement& e, std::vector<Text> items, std::vector<int32_t> colors = {});
  // What an image shows and a swatch's colour; neither raises an event.
  void SetPicture(PageElement& e, Picture picture);
  void SetBackColor(PageElement& e, std::optional<int32_t> color);
  // A button press raises Click.
  void Press(PageElement& e);

 private:
  void Raise(PageElement& e, PageEvent event);
  void Changed(const PageElement& e);

  std::vector<PageElement> elements_;
  EventHandler handler_;
  Observer observer_;
};

}  // namespace flipreel
