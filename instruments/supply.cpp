#include "supply.h"

#include <cmath>

float SupplyCurrent(float channelAVolts)
{
    return static_cast<float>(channelAVolts / 20.0 / static_cast<double>(0.022f));
}

float SupplyVin(float channelCVolts)
{
    return 2 * channelCVolts;
}

bool VmemFault(float channelDVolts)
{
    return channelDVolts < 1.5f;
}

uint8_t PowerFlags(int busSelect, bool vmemFault)
{
    return static_cast<uint8_t>((busSelect & 3) | (vmemFault ? 4 : 0));
}

AdcRole ClassifyAdc(float channelAVolts, float channelBVolts)
{
    if (!(channelBVolts > 3.0f && channelBVolts < 3.7f))
        return ADC_NOT_ASSIGNED;
    return std::fabs(channelAVolts - channelBVolts) < 0.1f ? ADC_SENSOR2 : ADC_SENSOR1;
}
