// Reaching an object's members by name: how hosts, property pages and scripts
// call the control and the design-time classes without a typed reference.
//
// An object that can be reached by name derives from Dispatch. Its members are
// described by a table of Member<T> rows; InvokeMember applies the rules that
// every such object shares, so that each class lists only its members.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "flipreel/host/errors.h"
#include "flipreel/host/text.h"
#include "flipreel/host/variant.h"

namespace flipreel {

// How a member is reached by name.
enum class CallKind : uint8_t {
  kGet,     // read a property
  kLet,     // assign a value to a property
  kSet,     // assign an object reference to a property
  kMethod,  // call a method
};

struct MemberInfo {
  enum class Kind : uint8_t { kProperty, kObjectProperty, kMethod };
  std::string_view name;
  Kind kind;
  int32_t dispid;
  std::string_view type;         // the value's or the result's type
  std::string_view parameters;   // for methods
  std::string_view description;  // the type library's description
};

class Dispatch {
 public:
  virtual ~Dispatch() = default;
  // Converts the arguments to the member's types first (type mismatch 13,
  // overflow 6), then runs the member. Unknown names are error 438; a wrong
  // number of arguments, a wrong kind of call or an assignment to a property
  // that can only be read is error 450. Names match without regard to case.
  virtual Variant Invoke(std::string_view name, CallKind kind, std::span<Variant> args = {}) = 0;
  // The members as the object's type information describes them, for code
  // that looks for members of a kind (the standard pages list every colour
  // or picture property); empty for an object that describes nothing.
  virtual std::span<const MemberInfo> described_members() const { return {}; }
};

// One member of a class T. Properties have get (and let, unless they can only
// be read); methods have call, taking between min_args and max_args.
template <typename T>
struct Member {
  MemberInfo info;
  Variant (*get)(T&) = nullptr;
  void (*let)(T&, const Variant&) = nullptr;
  Variant (*call)(T&, std::span<Variant>) = nullptr;
  size_t min_args = 0;
  size_t max_args = 0;
};

template <typename T>
Member<T> PropertyMember(MemberInfo info, Variant (*get)(T&),
                         void (*let)(T&, const Variant&) = nullptr) {
  return Member<T>{info, get, let, nullptr, 0, 0};
}

template <typename T>
Member<T> MethodMember(MemberInfo info, Variant (*call)(T&, std::span<Variant>),
                       size_t min_args = 0, size_t max_args = 0) {
  return Member<T>{info, nullptr, nullptr, call, min_args, max_args};
}

template <typename T>
Variant InvokeMember(std::span<const Member<T>> members, T& object, std::string_view name,
                     CallKind kind, std::span<Variant> args) {
  const Member<T>* m = nullptr;
  for (const Member<T>& candidate : members)
    if (EqualsNoCase(candidate.info.name, name)) {
      m = &candidate;
      break;
    }
  if (!m) Raise(err::kNoSuchMember);
  if (m->info.kind == MemberInfo::Kind::kMethod) {
    if (kind == CallKind::kLet || kind == CallKind::kSet) Raise(err::kWrongArguments);
    if (args.size() < m->min_args || args.size() > m->max_args) Raise(err::kWrongArguments);
    return m->call(object, args);
  }
  switch (kind) {
    case CallKind::kGet:
    case CallKind::kMethod:
      if (!args.empty()) Raise(err::kWrongArguments);
      return m->get(object);
    case CallKind::kLet:
    case CallKind::kSet:
      // Object references go with Set, values with Let; a picture given by
      // Let is taken as the reference it is.
      if (args.size() != 1 || !m->let) Raise(err::kWrongArguments);
      if (kind == CallKind::kSet && m->info.kind != MemberInfo::Kind::kObjectProperty)
        Raise(err::kWrongArguments);
      m->let(object, args[0]);
      return Variant();
  }
  return Variant();
}

}  // namespace flipreel
