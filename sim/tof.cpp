#include "sim/tof.hpp"

namespace sim {

const std::vector<TofEffect>& tof_effects()
{
    static const std::vector<TofEffect> effects{TofEffect::mixed_pixels, TofEffect::multipath,
                                                TofEffect::noise,        TofEffect::cutoff,
                                                TofEffect::holes,        TofEffect::floor_relief};
    return effects;
}

std::string tof_effect_name(TofEffect effect)
{
    switch (effect) {
    case TofEffect::mixed_pixels: return "mixed";
    case TofEffect::multipath: return "multipath";
    case TofEffect::noise: return "noise";
    case TofEffect::cutoff: return "cutoff";
    case TofEffect::holes: return "holes";
    case TofEffect::floor_relief: return "floor";
    }
    return "";
}

bool effect_on(const TofSensor& sensor, TofEffect effect)
{
    switch (effect) {
    case TofEffect::mixed_pixels: return sensor.mixed.on;
    case TofEffect::multipath: return sensor.multipath.on;
    case TofEffect::noise: return sensor.noise.on;
    case TofEffect::cutoff: return sensor.cutoff.on;
    case TofEffect::holes: return sensor.holes.on;
    case TofEffect::floor_relief: return sensor.floor.on;
    }
    return false;
}

TofSensor with_effect(TofSensor sensor, TofEffect effect, bool on)
{
    switch (effect) {
    case TofEffect::mixed_pixels: sensor.mixed.on = on; break;
    case TofEffect::multipath: sensor.multipath.on = on; break;
    case TofEffect::noise: sensor.noise.on = on; break;
    case TofEffect::cutoff: sensor.cutoff.on = on; break;
    case TofEffect::holes: sensor.holes.on = on; break;
    case TofEffect::floor_relief: sensor.floor.on = on; break;
    }
    return sensor;
}

TofSensor typical_tof()
{
    TofSensor sensor = ideal_tof();
    for (const TofEffect effect : tof_effects()) sensor = with_effect(sensor, effect, true);
    return sensor;
}

TofSensor ideal_tof()
{
    TofSensor sensor;
    sensor.enabled = true;
    return sensor;
}

}  // namespace sim
