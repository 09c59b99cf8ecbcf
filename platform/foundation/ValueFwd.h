#pragma once
// Forward declarations of the dynamic value family, for headers that only pass values around.

namespace foundation {
class Value;
class Array;
class Dictionary;
class Number;
class Data;
class Error;
class URL;
struct Date;
template <class T>
class Result;
}  // namespace foundation
