// Lookups into temporary values. Built once as it stands, where every line must compile, and
// once per FENDREL_MISUSE number, where the line of that number must not: a pointer or
// reference into a temporary would dangle once its full expression ends.
#include "platform/foundation/Value.h"

namespace {

using foundation::Array;
using foundation::Dictionary;
using foundation::Value;

Value makeValue() { return Dictionary{{"k", Array{1}}}; }
Dictionary makeDictionary() { return Dictionary{{"k", 1}}; }
Array makeArray() { return Array{1}; }

}  // namespace

int main() {
  // Lookups into temporaries give values of their own.
  const Value& byKey = makeValue()["k"];
  const Value& byIndex = makeValue()["k"][0];
  const Value& fromDictionary = makeDictionary()["k"];
  const Value& fromArray = makeArray()[0];
  // Lookups into named values give pointers and references into them.
  const Dictionary dictionary = makeDictionary();
  const Array array = makeArray();
  const Value* found = dictionary.find("k");
  const Value* element = array.at(0);
  const Value* named = &dictionary["k"];
#if FENDREL_MISUSE == 1
  found = makeDictionary().find("k");
#elif FENDREL_MISUSE == 2
  element = makeArray().at(0);
#elif FENDREL_MISUSE == 3
  named = &makeValue()["k"];
#elif FENDREL_MISUSE == 4
  named = &makeDictionary()["k"];
#elif FENDREL_MISUSE == 5
  named = &makeArray()[0];
#endif
  return byKey == byIndex && fromDictionary == fromArray && found == element && named ? 0 : 1;
}
