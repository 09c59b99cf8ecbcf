#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiMeasurementUnit.h"

namespace {

template <class T>
std::shared_ptr<T> make(std::string unit) {
  struct Made : T {
    explicit Made(std::string text) : T(std::move(text)) {}
  };
  return std::make_shared<Made>(std::move(unit));
}

}  // namespace

std::shared_ptr<DozidiMeasurementUnit> DozidiMeasurementUnit::initWithUnit(std::string unit) {
  return make<DozidiMeasurementUnit>(std::move(unit));
}

std::shared_ptr<DozidiMeasurementUnit> DozidiMeasurementUnit::none() { return DozidiMeasurementUnitDuration::initWithUnit(""); }

std::shared_ptr<DozidiMeasurementUnit> DozidiMeasurementUnit::copy() const { return initWithUnit(unit_); }

std::shared_ptr<DozidiMeasurementUnitDuration> DozidiMeasurementUnitDuration::initWithUnit(std::string unit) {
  return make<DozidiMeasurementUnitDuration>(std::move(unit));
}

std::shared_ptr<DozidiMeasurementUnitInformation> DozidiMeasurementUnitInformation::initWithUnit(std::string unit) {
  return make<DozidiMeasurementUnitInformation>(std::move(unit));
}

std::shared_ptr<DozidiMeasurementUnitFraction> DozidiMeasurementUnitFraction::initWithUnit(std::string unit) {
  return make<DozidiMeasurementUnitFraction>(std::move(unit));
}

foundation::Dictionary DozidiMeasurementValue::serialize() const {
  foundation::Dictionary result{{"value", value_}};
  if (unit_) result.set("unit", unit_->unit());
  return result;
}
