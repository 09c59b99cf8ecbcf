#pragma once
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/Number.h"
#include "platform/foundation/Value.h"

/// The unit of a measurement: a name from the duration, information or fraction vocabulary, or
/// any text for a custom unit. Immutable; a copy keeps the unit's family (its class).
class DozidiMeasurementUnit {
 public:
  /// A custom unit.
  static std::shared_ptr<DozidiMeasurementUnit> initWithUnit(std::string unit);
  /// No unit: the empty text, as a duration.
  static std::shared_ptr<DozidiMeasurementUnit> none();
  virtual ~DozidiMeasurementUnit() = default;

  const std::string& unit() const { return unit_; }
  /// A new unit of the same class with the same text.
  virtual std::shared_ptr<DozidiMeasurementUnit> copy() const;

 protected:
  explicit DozidiMeasurementUnit(std::string unit) : unit_(std::move(unit)) {}

 private:
  std::string unit_;
};

class DozidiMeasurementUnitDuration : public DozidiMeasurementUnit {
 public:
  static std::shared_ptr<DozidiMeasurementUnitDuration> initWithUnit(std::string unit);
  static std::shared_ptr<DozidiMeasurementUnitDuration> nanosecond() { return initWithUnit("nanosecond"); }
  static std::shared_ptr<DozidiMeasurementUnitDuration> microsecond() { return initWithUnit("microsecond"); }
  static std::shared_ptr<DozidiMeasurementUnitDuration> millisecond() { return initWithUnit("millisecond"); }
  static std::shared_ptr<DozidiMeasurementUnitDuration> second() { return initWithUnit("second"); }
  static std::shared_ptr<DozidiMeasurementUnitDuration> minute() { return initWithUnit("minute"); }
  static std::shared_ptr<DozidiMeasurementUnitDuration> hour() { return initWithUnit("hour"); }
  static std::shared_ptr<DozidiMeasurementUnitDuration> day() { return initWithUnit("day"); }
  static std::shared_ptr<DozidiMeasurementUnitDuration> week() { return initWithUnit("week"); }
  std::shared_ptr<DozidiMeasurementUnit> copy() const override { return initWithUnit(unit()); }

 protected:
  using DozidiMeasurementUnit::DozidiMeasurementUnit;
};

class DozidiMeasurementUnitInformation : public DozidiMeasurementUnit {
 public:
  static std::shared_ptr<DozidiMeasurementUnitInformation> initWithUnit(std::string unit);
  static std::shared_ptr<DozidiMeasurementUnitInformation> bit() { return initWithUnit("bit"); }
  static std::shared_ptr<DozidiMeasurementUnitInformation> byte() { return initWithUnit("byte"); }
  static std::shared_ptr<DozidiMeasurementUnitInformation> kilobyte() { return initWithUnit("kilobyte"); }
  static std::shared_ptr<DozidiMeasurementUnitInformation> kibibyte() { return initWithUnit("kibibyte"); }
  static std::shared_ptr<DozidiMeasurementUnitInformation> megabyte() { return initWithUnit("megabyte"); }
  static std::shared_ptr<DozidiMeasurementUnitInformation> mebibyte() { return initWithUnit("mebibyte"); }
  static std::shared_ptr<DozidiMeasurementUnitInformation> gigabyte() { return initWithUnit("gigabyte"); }
  static std::shared_ptr<DozidiMeasurementUnitInformation> gibibyte() { return initWithUnit("gibibyte"); }
  static std::shared_ptr<DozidiMeasurementUnitInformation> terabyte() { return initWithUnit("terabyte"); }
  static std::shared_ptr<DozidiMeasurementUnitInformation> tebibyte() { return initWithUnit("tebibyte"); }
  static std::shared_ptr<DozidiMeasurementUnitInformation> petabyte() { return initWithUnit("petabyte"); }
  static std::shared_ptr<DozidiMeasurementUnitInformation> pebibyte() { return initWithUnit("pebibyte"); }
  static std::shared_ptr<DozidiMeasurementUnitInformation> exabyte() { return initWithUnit("exabyte"); }
  static std::shared_ptr<DozidiMeasurementUnitInformation> exbibyte() { return initWithUnit("exbibyte"); }
  std::shared_ptr<DozidiMeasurementUnit> copy() const override { return initWithUnit(unit()); }

 protected:
  using DozidiMeasurementUnit::DozidiMeasurementUnit;
};

class DozidiMeasurementUnitFraction : public DozidiMeasurementUnit {
 public:
  static std::shared_ptr<DozidiMeasurementUnitFraction> initWithUnit(std::string unit);
  static std::shared_ptr<DozidiMeasurementUnitFraction> ratio() { return initWithUnit("ratio"); }
  static std::shared_ptr<DozidiMeasurementUnitFraction> percent() { return initWithUnit("percent"); }
  std::shared_ptr<DozidiMeasurementUnit> copy() const override { return initWithUnit(unit()); }

 protected:
  using DozidiMeasurementUnit::DozidiMeasurementUnit;
};

/// A measured number with an optional unit. Immutable.
class DozidiMeasurementValue {
 public:
  explicit DozidiMeasurementValue(foundation::Number value, std::shared_ptr<const DozidiMeasurementUnit> unit = nullptr)
      : value_(value), unit_(std::move(unit)) {}

  const foundation::Number& value() const { return value_; }
  const std::shared_ptr<const DozidiMeasurementUnit>& unit() const { return unit_; }
  /// {"value": the number as it was given (integer or floating point)} and, with a unit,
  /// "unit": its text (also when that is empty).
  foundation::Dictionary serialize() const;

 private:
  foundation::Number value_;
  std::shared_ptr<const DozidiMeasurementUnit> unit_;
};
