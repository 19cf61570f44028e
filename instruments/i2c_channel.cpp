#include "i2c_channel.h"

#include "platform.h"
#include "usbwire.h"

int OpenI2CChannel(void*& handle)
{
    CloseI2CChannel(handle);
    handle = I2C_Open(kI2CDescription, kI2CClockHz);
    if (handle == nullptr) {
        platform::MessageBox(platform::Format("Error Open Device: %s", kI2CDescription), platform::BoxIcon::Error);
        return -1;
    }
    return 0;
}

void CloseI2CChannel(void*& handle)
{
    if (handle != nullptr)
        I2C_Close(handle);
    handle = nullptr;
}
