// The board's supply values from the converters' voltages, and how a converter is recognised.
#pragma once

#include <cstdint>

// Supply current in amperes from adcsensor1 channel A: V / 20.0 / 0.022 (shunt amplifier).
float SupplyCurrent(float channelAVolts);
// Input voltage from adcsensor2 channel C (a divider by two): 2 x V.
float SupplyVin(float channelCVolts);
// Memory supply fault from adcsensor2 channel D: below 1.5 V.
bool VmemFault(float channelDVolts);
// The flags byte: bits 0-1 the bus selection, bit 2 Vmem_fault, bits 3-7 zero.
uint8_t PowerFlags(int busSelect, bool vmemFault);

// Which slot a converter fills, from its channel A and B voltages: none unless B lies strictly
// between 3.0 V and 3.7 V; then adcsensor2 when |A - B| < 0.1 V, else adcsensor1.
enum AdcRole { ADC_NOT_ASSIGNED = 0, ADC_SENSOR1 = 1, ADC_SENSOR2 = 2 };
AdcRole ClassifyAdc(float channelAVolts, float channelBVolts);
