// Writes 10,000 events of 30 breadcrumbs each as envelopes and reads them back (the envelope and
// each event payload), with the crash reporter's own serialisation and, side by side, the same
// work through nlohmann-json.

#include <benchmark/benchmark.h>

#include <nlohmann/json.hpp>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiEvent.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiMeta.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiFoundationHelpers.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiEnvelope.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiSerialization.h"
#include "platform/foundation/JSONSerialization.h"

namespace {

using foundation::Dictionary;
using ordered_json = nlohmann::ordered_json;

constexpr int kEvents = 10'000;
constexpr int kBreadcrumbs = 30;

const std::vector<std::shared_ptr<DozidiEvent>>& events() {
  static const auto* all = [] {
    auto* list = new std::vector<std::shared_ptr<DozidiEvent>>();
    const auto start = foundation::Date::fromTimeIntervalSince1970(1'700'000'000.125);
    for (int e = 0; e < kEvents; ++e) {
      auto event = DozidiEvent::initWithLevel(DozidiEventLevel::Error);
      event->timestamp = start.addingTimeInterval(e);
      event->releaseName = "com.morvit.Fendrel@2.4.1+311";
      event->environment = "production";
      event->message = DozidiMessage::initWithFormatted("Filter list " + std::to_string(e) + " failed to compile");
      event->user = DozidiUser::initWithUserId("6A1F2C3B-0D4E-4F50-8A61-7B2C3D4E5F60");
      event->tags = Dictionary{{"list", "easylist"}, {"os", "linux"}};
      event->extra = Dictionary{{"rules", 50'000 + e}, {"__dozidi_internal", true}};
      event->context = Dictionary{{"app", Dictionary{{"app_version", "2.4.1"}, {"in_foreground", true}}},
                                  {"device", Dictionary{{"free_memory", 123'456'789ULL}, {"arch", "x86_64"}}}};
      std::vector<std::shared_ptr<DozidiBreadcrumb>> crumbs;
      for (int b = 0; b < kBreadcrumbs; ++b) {
        auto crumb = DozidiBreadcrumb::initWithLevel(DozidiEventLevel::Info, "http");
        crumb->timestamp = start.addingTimeInterval(e - (kBreadcrumbs - b) * 0.25);
        crumb->type = "http";
        crumb->message = "GET https://lists.example.com/easylist-" + std::to_string(b) + ".json \"quoted\"";
        crumb->data = Dictionary{{"status_code", 200}, {"method", "GET"}, {"duration", 0.125 * b}};
        crumbs.push_back(std::move(crumb));
      }
      event->breadcrumbs = std::move(crumbs);
      list->push_back(std::move(event));
    }
    return list;
  }();
  return *all;
}

// ---- the same work through nlohmann-json -------------------------------------------------------

ordered_json toJSON(const foundation::Value& value);

ordered_json toJSON(const Dictionary& dictionary) {
  ordered_json object = ordered_json::object();
  for (const auto& [key, value] : dictionary) {
    if (key.rfind("__dozidi", 0) == 0) continue;
    object[key] = toJSON(value);
  }
  return object;
}

ordered_json toJSON(const foundation::Value& value) {
  if (const auto* s = value.string()) return *s;
  if (const auto* d = value.dictionary()) return toJSON(*d);
  if (const auto* n = value.number()) {
    if (n->isBool()) return n->boolValue();
    if (n->kind() == foundation::Number::Kind::UInt64) return n->uint64Value();
    if (n->isInteger()) return n->int64Value();
    return n->doubleValue();
  }
  if (const auto* a = value.array()) {
    ordered_json array = ordered_json::array();
    for (const auto& element : *a) array.push_back(toJSON(element));
    return array;
  }
  return nullptr;
}

ordered_json eventJSON(const DozidiEvent& event) {
  ordered_json json;
  json["event_id"] = event.eventId.dozidiIdString();
  json["timestamp"] = event.timestamp->timeIntervalSince1970();
  json["platform"] = "cocoa";
  json["level"] = nameForDozidiLevel(event.level);
  json["release"] = *event.releaseName;
  json["environment"] = *event.environment;
  json["user"] = {{"id", *event.user->userId()}};
  ordered_json crumbs = ordered_json::array();
  for (const auto& crumb : *event.breadcrumbs) {
    ordered_json c;
    c["level"] = nameForDozidiLevel(crumb->level);
    c["timestamp"] = dozidi_toIso8601String(*crumb->timestamp);
    c["category"] = crumb->category;
    c["type"] = *crumb->type;
    c["message"] = *crumb->message;
    c["data"] = toJSON(*crumb->data);
    crumbs.push_back(std::move(c));
  }
  json["breadcrumbs"] = std::move(crumbs);
  json["contexts"] = toJSON(*event.context);
  json["message"] = {{"formatted", *event.message->formatted()}};
  json["extra"] = toJSON(*event.extra);
  json["tags"] = toJSON(*event.tags);
  return json;
}

std::string nlohmannEnvelope(const DozidiEvent& event) {
  ordered_json header;
  header["event_id"] = event.eventId.dozidiIdString();
  header["sdk"] = {{"name", DozidiMeta::sdkName()}, {"version", DozidiMeta::versionString()}};
  const std::string payload = eventJSON(event).dump();
  ordered_json itemHeader;
  itemHeader["type"] = "event";
  itemHeader["length"] = payload.size();
  return header.dump() + "\n" + itemHeader.dump() + "\n" + payload;
}

/// Reads the header line, each item header and its payload, and parses the event payload.
std::size_t nlohmannRead(std::string_view text) {
  const auto headerEnd = text.find('\n');
  auto header = ordered_json::parse(text.substr(0, headerEnd), nullptr, false);
  if (header.is_discarded()) return 0;
  std::size_t items = 0;
  std::size_t start = headerEnd + 1;
  while (start < text.size()) {
    const auto lineEnd = text.find('\n', start);
    if (lineEnd == std::string_view::npos) break;
    auto itemHeader = ordered_json::parse(text.substr(start, lineEnd - start), nullptr, false);
    if (itemHeader.is_discarded()) return 0;
    const auto length = itemHeader.value("length", std::size_t{0});
    auto payload = ordered_json::parse(text.substr(lineEnd + 1, length), nullptr, false);
    if (payload.is_discarded()) return 0;
    benchmark::DoNotOptimize(payload.size());
    ++items;
    start = lineEnd + 1 + length + 1;
  }
  return items;
}

// ---- the benchmarks ------------------------------------------------------------------------------

void BM_DozidiEnvelopesWriteAndRead(benchmark::State& state) {
  const auto& all = events();
  for (auto _ : state) {
    std::size_t items = 0;
    for (const auto& event : all) {
      auto text = DozidiSerialization::dataWithEnvelope(*DozidiEnvelope::initWithEvent(*event), nullptr);
      auto envelope = DozidiSerialization::envelopeWithData(text->view());
      auto payload = foundation::JSONSerialization::JSONObjectWithData(envelope->items()[0]->data().view());
      benchmark::DoNotOptimize(payload.ok());
      items += envelope->items().size();
    }
    if (items != all.size()) state.SkipWithError("an envelope did not read back");
  }
  state.SetItemsProcessed(state.iterations() * kEvents);
}
BENCHMARK(BM_DozidiEnvelopesWriteAndRead)->Unit(benchmark::kMillisecond);

void BM_NlohmannEnvelopesWriteAndRead(benchmark::State& state) {
  const auto& all = events();
  for (auto _ : state) {
    std::size_t items = 0;
    for (const auto& event : all) items += nlohmannRead(nlohmannEnvelope(*event));
    if (items != all.size()) state.SkipWithError("an envelope did not read back");
  }
  state.SetItemsProcessed(state.iterations() * kEvents);
}
BENCHMARK(BM_NlohmannEnvelopesWriteAndRead)->Unit(benchmark::kMillisecond);

// The halves of ours alone, to see where the time goes.
void BM_DozidiEnvelopesWrite(benchmark::State& state) {
  const auto& all = events();
  for (auto _ : state) {
    for (const auto& event : all) {
      auto text = DozidiSerialization::dataWithEnvelope(*DozidiEnvelope::initWithEvent(*event), nullptr);
      benchmark::DoNotOptimize(text->size());
    }
  }
  state.SetItemsProcessed(state.iterations() * kEvents);
}
BENCHMARK(BM_DozidiEnvelopesWrite)->Unit(benchmark::kMillisecond);

void BM_NlohmannEnvelopesWrite(benchmark::State& state) {
  const auto& all = events();
  for (auto _ : state) {
    for (const auto& event : all) benchmark::DoNotOptimize(nlohmannEnvelope(*event).size());
  }
  state.SetItemsProcessed(state.iterations() * kEvents);
}
BENCHMARK(BM_NlohmannEnvelopesWrite)->Unit(benchmark::kMillisecond);

}  // namespace
