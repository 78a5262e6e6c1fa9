#include "flipreel/dialog/common_dialog.h"

#include <array>

namespace flipreel {

namespace {

// The size of the request record as the system has always known it (the
// members up to and including lpTemplateName).
constexpr int32_t kRequestSize = 76;
constexpr int32_t kDefaultBufferSize = 256;

// Texts cross to the dialog in the system's encoding, UTF-8. A text that
// cannot be carried (a lone surrogate) or a dialog answer that is not UTF-8
// fails with error 5, which ShowOpen absorbs.
std::string ToSystemText(TextView text) {
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      Raise(err::kInvalidCall, "The text cannot be given to the file dialog");
    }
  }
  return TextToUtf8(text);
}

Text FromSystemText(std::string_view bytes) {
  Text text = Utf8ToText(bytes);
  if (TextToUtf8(text) != bytes)
    Raise(err::kInvalidCall, "The file dialog answered with a name that is not UTF-8");
  return text;
}

// A buffer of exactly n characters: the text padded with spaces or cut to
// n - 1 characters, then one NUL.
Text Buffer(TextView initial, int32_t n) {
  Text buffer(initial.substr(0, static_cast<size_t>(n - 1)));
  buffer.resize(static_cast<size_t>(n - 1), u' ');
  buffer.push_back(u'\0');
  return buffer;
}

using Kind = MemberInfo::Kind;
using D = clsCommonDialog;
using Binding = Member<D>;

Binding Property(MemberInfo info, Variant (*get)(D&), void (*let)(D&, const Variant&) = nullptr) {
  return PropertyMember<D>(info, get, let);
}

// The dispatch identifiers are the members' positions in this table.
const std::array<Binding, 18>& Bindings() {
  static const std::array<Binding, 18> kBindings = {{
      Property({"Action", Kind::kProperty, 1, "Integer", "", "always 0"},
               [](D& d) { return Variant(d.Action()); }),
      Property(
          {"CancelError", Kind::kProperty, 2, "Boolean", "", "a cancel is reported as error 2001"},
          [](D& d) { return Variant::FromBool(d.CancelError()); },
          [](D& d, const Variant& v) { d.SetCancelError(v.ToBoolean()); }),
      Property(
          {"DefaultExt", Kind::kProperty, 3, "String", "", "extension added to a bare name"},
          [](D& d) { return Variant(d.DefaultExt()); },
          [](D& d, const Variant& v) { d.SetDefaultExt(v.ToText()); }),
      Property(
          {"DialogTitle", Kind::kProperty, 4, "String", "", "the dialog's title"},
          [](D& d) { return Variant(d.DialogTitle()); },
          [](D& d, const Variant& v) { d.SetDialogTitle(v.ToText()); }),
      Property(
          {"FileName", Kind::kProperty, 5, "String", "", "the initial and the chosen path"},
          [](D& d) { return Variant(d.FileName()); },
          [](D& d, const Variant& v) { d.SetFileName(v.ToText()); }),
      Property(
          {"FileTitle", Kind::kProperty, 6, "String", "", "the chosen file's bare name"},
          [](D& d) { return Variant(d.FileTitle()); },
          [](D& d, const Variant& v) { d.SetFileTitle(v.ToText()); }),
      Property(
          {"Filter", Kind::kProperty, 7, "String", "", "description and pattern pairs"},
          [](D& d) { return Variant(d.Filter()); },
          [](D& d, const Variant& v) { d.SetFilter(v.ToText()); }),
      Property(
          {"FilterIndex", Kind::kProperty, 8, "Integer", "", "the pair selected first"},
          [](D& d) { return Variant(d.FilterIndex()); },
          [](D& d, const Variant& v) { d.SetFilterIndex(v.ToInteger()); }),
      Property(
          {"flags", Kind::kProperty, 9, "Long", "", "the dialog's option bits"},
          [](D& d) { return Variant(d.flags()); },
          [](D& d, const Variant& v) { d.Setflags(v.ToLong()); }),
      Property(
          {"hdc", Kind::kProperty, 10, "Long", "", "stored only"},
          [](D& d) { return Variant(d.hdc()); },
          [](D& d, const Variant& v) { d.Sethdc(v.ToLong()); }),
      Property(
          {"InitDir", Kind::kProperty, 11, "String", "", "the folder shown first"},
          [](D& d) { return Variant(d.InitDir()); },
          [](D& d, const Variant& v) { d.SetInitDir(v.ToText()); }),
      Property(
          {"Max", Kind::kProperty, 12, "Long", "", "stored only"},
          [](D& d) { return Variant(d.Max()); },
          [](D& d, const Variant& v) { d.SetMax(v.ToLong()); }),
      Property(
          {"MaxFileSize", Kind::kProperty, 13, "Long", "", "size of the name buffers"},
          [](D& d) { return Variant(d.MaxFileSize()); },
          [](D& d, const Variant& v) { d.SetMaxFileSize(v.ToLong()); }),
      Property(
          {"Min", Kind::kProperty, 14, "Long", "", "stored only"},
          [](D& d) { return Variant(d.Min()); },
          [](D& d, const Variant& v) { d.SetMin(v.ToLong()); }),
      Property(
          {"Object", Kind::kObjectProperty, 15, "Object", "", "stored only"},
          [](D& d) { return d.Object(); }, [](D& d, const Variant& v) { d.SetObject(v); }),
      Property({"APIReturn", Kind::kProperty, 16, "Long", "", "the dialog's last answer"},
               [](D& d) { return Variant(d.APIReturn()); }),
      Property({"ExtendedError", Kind::kProperty, 17, "Long", "", "the last failure code"},
               [](D& d) { return Variant(d.ExtendedError()); }),
      MethodMember<D>({"ShowOpen", Kind::kMethod, 18, "", "", "shows the file-open dialog"},
                      [](D& d, std::span<Variant>) {
                        d.ShowOpen();
                        return Variant();
                      }),
  }};
  return kBindings;
}

}  // namespace

std::span<const MemberInfo> clsCommonDialog::Members() {
  static const auto kInfos = [] {
    std::array<MemberInfo, 18> infos{};
    for (size_t i = 0; i < infos.size(); ++i) infos[i] = Bindings()[i].info;
    return infos;
  }();
  return kInfos;
}

Variant clsCommonDialog::Invoke(std::string_view name, CallKind kind, std::span<Variant> args) {
  return InvokeMember<D>(Bindings(), *this, name, kind, args);
}

Text clsCommonDialog::ConvertFilter(TextView filter) {
  Text list;
  list.reserve(filter.size() + 1);
  for (char16_t c : filter) list.push_back(c == u'|' ? u'\0' : c);
  list.push_back(u'\0');
  return list;
}

Text clsCommonDialog::TrimAtNull(TextView text) {
  return Text(text.substr(0, text.find(u'\0')));
}

void clsCommonDialog::ShowOpen() {
  ShowFileDialog(DialogAction::kOpen);
}

FileDialogRequest clsCommonDialog::BuildRequest() const {
  const Text filter = ConvertFilter(Filter_);
  const int32_t n = MaxFileSize_ >= 1 ? MaxFileSize_ : kDefaultBufferSize;
  FileDialogRequest r;
  r.lStructSize = kRequestSize;
  r.hwndOwner = 0;  // the dialog has no owner window
  r.lpstrFilter = ToSystemText(filter);
  r.nFilterIndex = FilterIndex_;
  r.lpstrFile = ToSystemText(Buffer(FileName_, n));
  // A buffer of 255 is announced as it is: a size of 0 would make every
  // choice too long for the buffer.
  r.nMaxFile = n;
  r.lpstrFileTitle = ToSystemText(Buffer(FileTitle_, n));
  r.nMaxFileTitle = n;
  r.lpstrInitialDir = ToSystemText(InitDir_);
  r.lpstrTitle = ToSystemText(DialogTitle_);
  r.Flags = flags_;
  r.lpstrDefExt = ToSystemText(DefaultExt_);
  return r;
}

void clsCommonDialog::ShowFileDialog(DialogAction) {
  APIReturn_ = 0;
  ExtendedError_ = 0;
  try {
    FileDialogRequest request = BuildRequest();
    APIReturn_ = service_.ShowOpenDialog(request);
    if (APIReturn_ != 0) {
      // Both answers are converted before either is stored, so that a failed
      // conversion leaves both as they were.
      Text file = TrimAtNull(FromSystemText(request.lpstrFile));
      Text title = TrimAtNull(FromSystemText(request.lpstrFileTitle));
      FileName_ = std::move(file);
      FileTitle_ = std::move(title);
      return;
    }
    ExtendedError_ = service_.DialogFailureCode();
  } catch (const std::exception&) {
    // Absorbed, a host error or any other (memory for a buffer of the
    // MaxFileSize asked for, say): the dialog's own trouble is not the
    // caller's.
    return;
  }
  if (CancelError_) Raise(err::kDialogCancelled);
}

}  // namespace flipreel
