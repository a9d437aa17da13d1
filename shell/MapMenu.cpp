#include "shell/MapMenu.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QStringList>

#include "platform/MessageBox.h"
#include "pointdb/DiskFile.h"
#include "runtime/ConfigFile.h"
#include "runtime/MapCsv.h"
#include "runtime/MapFile.h"
#include "runtime/Runtime.h"
#include "ui/FileCommands.h"

namespace {

constexpr int kLastSlave = 255;

QString DeviceText(const DeviceMap& map) {
  return QString::fromStdString(map.endpoint + " slave " + std::to_string(map.slave) + " (" +
                                map.DisplayName() + ")");
}

// The file's tags for the device, its settings as they were.
bool ReadDeviceMap(const Runtime& runtime, const std::string& path, DeviceMap& map,
                   std::string& error) {
  if (error = MapFile::Clash(runtime.m_deviceMaps.All(), map, true); !error.empty()) return false;
  std::string bytes;
  if (DiskFile::ReadAll(path, bytes, error) != DiskFile::ReadResult::ok)
    return (error = path + " was not read: " + error, false);
  return MapCsv::Read(bytes, path, map, error);
}

}  // namespace

bool MapMenu::OnImportMap(const std::string& configPath) {
  QStringList endpoints;
  for (const auto& endpoint : m_runtime.m_endpoints.m_endpoints)
    endpoints << QString::fromStdString(endpoint->m_strName);
  if (endpoints.isEmpty()) {
    AfxMessageBox("A register map belongs to a device of an endpoint: add the endpoint first.");
    return false;
  }
  bool ok = false;
  const QString endpoint = QInputDialog::getItem(&m_window, "Import Register Map",
                                                 "Endpoint:", endpoints, 0, false, &ok);
  if (!ok) return false;
  const int slave =
      QInputDialog::getInt(&m_window, "Import Register Map", "Slave:", 1, 1, kLastSlave, 1, &ok);
  if (!ok) return false;
  const QString path = QFileDialog::getOpenFileName(&m_window, "Import Register Map", QString(),
                                                    "CSV Files (*.csv);;All Files (*)", nullptr,
                                                    QFileDialog::DontUseNativeDialog);
  if (path.isEmpty()) return false;
  DeviceMap map;
  map.endpoint = endpoint.toStdString();
  map.slave = slave;
  if (const DeviceMap* old = m_runtime.m_deviceMaps.Find(map.endpoint, slave)) map = *old;
  std::string error;
  if (!ReadDeviceMap(m_runtime, path.toStdString(), map, error)) {
    AfxMessageBox("The register map was not imported: " + error + ".");
    return false;
  }
  m_runtime.m_deviceMaps.Put(std::move(map));
  ConfigFile file(m_runtime);
  const bool saved = file.SaveTestConfig(configPath);
  for (const std::string& text : file.Messages()) AfxMessageBox(text);
  return saved;
}

bool MapMenu::OnExportMap() {
  const auto& maps = m_runtime.m_deviceMaps.All();
  if (maps.empty()) {
    AfxMessageBox("No device has a register map.");
    return false;
  }
  QStringList devices;
  for (const DeviceMap& map : maps) devices << DeviceText(map);
  bool ok = false;
  const QString device =
      QInputDialog::getItem(&m_window, "Export Register Map", "Device:", devices, 0, false, &ok);
  if (!ok) return false;
  const DeviceMap& map = maps[static_cast<size_t>(devices.indexOf(device))];
  const std::string path =
      FileCommands::Choose(&m_window, true,
                           QString::fromStdString(map.endpoint + "-" + std::to_string(map.slave) +
                                                  ".csv"),
                           {"CSV files (*.csv)", "All Files (*)"})
          .toStdString();
  if (path.empty()) return false;
  DiskFile file;
  if (file.Create(path) && file.Commit(MapCsv::Write(map))) return true;
  AfxMessageBox("The register map was not exported: " + path +
                " was not written: " + file.GetError() + ".");
  return false;
}
