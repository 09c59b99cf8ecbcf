#include "platform/runtime/NSData.h"

#include "platform/foundation/DataFile.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/URL.h"

namespace runtime {

namespace {

using WriteAtomically = bool(const std::string&, bool);
using WriteOptions = bool(const std::string&, std::uint32_t, foundation::Error*);
using ReadFile = NSData*(const std::string&);
using ReadFileOptions = NSData*(const std::string&, std::uint32_t, foundation::Error*);
using ReadURL = NSData*(const foundation::URL&, std::uint32_t, foundation::Error*);

NSData* fill(Object* self, std::optional<foundation::Data> data) {
  if (!data) return nullptr;
  auto* object = static_cast<NSData*>(self);
  *object = NSData(std::move(*data));
  return object;
}

/// Registers the class with its own implementations when the library is loaded, before any send.
const Class kNSDataClass = [] {
  static const char anchor = 0;
  Class cls = registerClass<NSData, Object>("NSData", &anchor);
  class_addMethod(cls, NSData::writeToFileOptionsErrorSelector(),
                  imp_implementationWithBlock<WriteOptions>(
                      [](Object* self, const std::string& path, std::uint32_t options, foundation::Error* error) {
                        return foundation::writeDataToFile(static_cast<NSData*>(self)->data(), path, options, error);
                      }));
  class_addMethod(cls, NSData::writeToFileAtomicallySelector(),
                  imp_implementationWithBlock<WriteAtomically>([](Object* self, const std::string& path, bool atomically) {
                    return static_cast<NSData*>(self)->writeToFile(
                        path, atomically ? std::uint32_t{foundation::DataWritingAtomic} : std::uint32_t{0}, nullptr);
                  }));
  class_addMethod(cls, NSData::initWithContentsOfFileOptionsErrorSelector(),
                  imp_implementationWithBlock<ReadFileOptions>(
                      [](Object* self, const std::string& path, std::uint32_t options, foundation::Error* error) {
                        return fill(self, foundation::readDataFromFile(path, options, error));
                      }));
  class_addMethod(cls, NSData::initWithContentsOfFileSelector(),
                  imp_implementationWithBlock<ReadFile>([](Object* self, const std::string& path) {
                    return static_cast<NSData*>(self)->initWithContentsOfFile(path, 0, nullptr);
                  }));
  class_addMethod(cls, NSData::initWithContentsOfURLOptionsErrorSelector(),
                  imp_implementationWithBlock<ReadURL>(
                      [](Object* self, const foundation::URL& url, std::uint32_t options, foundation::Error* error) {
                        return fill(self, foundation::readDataFromURL(url, options, error));
                      }));
  return cls;
}();

}  // namespace

SEL NSData::writeToFileAtomicallySelector() {
  static const SEL selector = sel_registerName("writeToFile:atomically:");
  return selector;
}
SEL NSData::writeToFileOptionsErrorSelector() {
  static const SEL selector = sel_registerName("writeToFile:options:error:");
  return selector;
}
SEL NSData::initWithContentsOfFileSelector() {
  static const SEL selector = sel_registerName("initWithContentsOfFile:");
  return selector;
}
SEL NSData::initWithContentsOfFileOptionsErrorSelector() {
  static const SEL selector = sel_registerName("initWithContentsOfFile:options:error:");
  return selector;
}
SEL NSData::initWithContentsOfURLOptionsErrorSelector() {
  static const SEL selector = sel_registerName("initWithContentsOfURL:options:error:");
  return selector;
}

bool NSData::writeToFile(const std::string& path, bool atomically) {
  return msgSend<WriteAtomically>(this, writeToFileAtomicallySelector(), path, atomically);
}

bool NSData::writeToFile(const std::string& path, std::uint32_t options, foundation::Error* error) {
  return msgSend<WriteOptions>(this, writeToFileOptionsErrorSelector(), path, options, error);
}

NSData* NSData::initWithContentsOfFile(const std::string& path) {
  return msgSend<ReadFile>(this, initWithContentsOfFileSelector(), path);
}

NSData* NSData::initWithContentsOfFile(const std::string& path, std::uint32_t options, foundation::Error* error) {
  return msgSend<ReadFileOptions>(this, initWithContentsOfFileOptionsErrorSelector(), path, options, error);
}

NSData* NSData::initWithContentsOfURL(const foundation::URL& url, std::uint32_t options, foundation::Error* error) {
  return msgSend<ReadURL>(this, initWithContentsOfURLOptionsErrorSelector(), url, options, error);
}

std::optional<foundation::Data> NSData::dataWithContentsOfFile(const std::string& path, foundation::Error* error) {
  NSData object;
  if (!object.initWithContentsOfFile(path, 0, error)) return std::nullopt;
  return object.takeData();
}

std::optional<foundation::Data> NSData::dataWithContentsOfURL(const foundation::URL& url, foundation::Error* error) {
  NSData object;
  if (!object.initWithContentsOfURL(url, 0, error)) return std::nullopt;
  return object.takeData();
}

bool NSData::writeData(foundation::Data data, const std::string& path, std::uint32_t options, foundation::Error* error) {
  NSData object(std::move(data));
  return object.writeToFile(path, options, error);
}

}  // namespace runtime
