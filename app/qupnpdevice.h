#ifndef QUPNPDEVICE_H
#define QUPNPDEVICE_H

#include <QMetaType>
#include <QString>

// The window's own copy of the facts it shows about one device.
// Immutable once built; two records are equal when all five fields are.
class QUPnPDevice
{
public:
    QUPnPDevice() {}
    QUPnPDevice(const QString& uuid, const QString& friendly_name, const QString& manufacturer,
                const QString& device_type, const QString& model_description)
        : m_UUID(uuid), m_FriendlyName(friendly_name), m_Manufacturer(manufacturer),
          m_DeviceType(device_type), m_ModelDescription(model_description) {}

    bool operator==(const QUPnPDevice& other) const
    {
        return m_UUID == other.m_UUID && m_FriendlyName == other.m_FriendlyName &&
               m_Manufacturer == other.m_Manufacturer && m_DeviceType == other.m_DeviceType &&
               m_ModelDescription == other.m_ModelDescription;
    }
    bool operator!=(const QUPnPDevice& other) const { return !(*this == other); }

    QString m_UUID;
    QString m_FriendlyName;
    QString m_Manufacturer;
    QString m_DeviceType;
    QString m_ModelDescription;
};

Q_DECLARE_METATYPE(QUPnPDevice*)

#endif // QUPNPDEVICE_H
