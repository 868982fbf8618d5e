// Placeholder while the sensor is being written; Start reports failure.
#include "sim/VirtualSensor.h"

struct VirtualSensor::Impl {
    VirtualSensorOptions options;
};

VirtualSensor::VirtualSensor(VirtualSensorOptions options) : impl_(std::make_unique<Impl>()) { impl_->options = std::move(options); }
VirtualSensor::~VirtualSensor() = default;
bool VirtualSensor::Start(std::string* error) { if (error) *error = "not available yet"; return false; }
void VirtualSensor::Stop() {}
bool VirtualSensor::IsRunning() const { return false; }
std::string VirtualSensor::PortPath() const { return {}; }
void VirtualSensor::HangUp() {}
void VirtualSensor::SetSilent(bool) {}
void VirtualSensor::InjectBytes(const std::vector<uint8_t>&) {}
std::optional<uint32_t> VirtualSensor::ConfigValue(uint16_t) const { return std::nullopt; }
std::array<uint32_t, 16> VirtualSensor::GateTable(uint16_t) const { return {}; }
bool VirtualSensor::ReportOutputOn() const { return false; }
bool VirtualSensor::InCommandMode() const { return false; }
uint32_t VirtualSensor::RunningMode() const { return SIM_MODE_APP0; }
std::string VirtualSensor::Version() const { return impl_->options.version; }
bool VirtualSensor::Generating() const { return false; }
std::vector<uint8_t> VirtualSensor::FlashPartition(int) const { return {}; }
int VirtualSensor::LineBaudRate() const { return 0; }
VirtualSensorCounters VirtualSensor::Counters() const { return {}; }
