#include "platform/linux/BleControllerErrorText.h"

namespace orvane {

QString bleControllerErrorText(QLowEnergyController::Error error) {
    switch (error) {
    case QLowEnergyController::UnknownRemoteDeviceError:
        return QStringLiteral("找不到该蓝牙设备");
    case QLowEnergyController::NetworkError:
        return QStringLiteral("蓝牙读写失败");
    case QLowEnergyController::InvalidBluetoothAdapterError:
        return QStringLiteral("蓝牙适配器不可用");
    case QLowEnergyController::ConnectionError:
        return QStringLiteral("无法连接该蓝牙设备");
    case QLowEnergyController::RemoteHostClosedError:
        return QStringLiteral("设备断开了连接");
    case QLowEnergyController::AuthorizationError:
        return QStringLiteral("蓝牙配对验证失败");
    case QLowEnergyController::MissingPermissionsError:
        return QStringLiteral("没有使用蓝牙的权限");
    case QLowEnergyController::NoError:
    case QLowEnergyController::UnknownError:
    case QLowEnergyController::AdvertisingError:
        break;
    }
    return QStringLiteral("蓝牙连接出错");
}

} // namespace orvane
