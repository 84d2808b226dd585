#include "fleet/inventory.h"

#include "fleet/held_database.h"
#include "lang/gbk_text.h"
#include "snapshot/snapshot_document.h"

#include <array>

namespace vireo {

std::string CsvField(const std::string& text)
{
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        return text;
    }
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"') {
            quoted += '"';
        }
        quoted += c;
    }
    return quoted + "\"";
}

std::string InventoryCsv(const std::vector<DeviceDatabaseRef>& devices)
{
    std::string csv = "\xEF\xBB\xBF"
                      "Device,Kind,Number,Program,Satellite,Transponder,Video PID,Audio PIDs,"
                      "PCR PID,Teletext PID,Scrambled\r\n";
    const auto text = [](const std::string& gbk) { return CsvField(GbkToUtf8(gbk)); };
    for (const DeviceDatabaseRef& device : devices) {
        if (!device.database) {
            continue;
        }
        ListManager& db = *device.database;
        const HeldDatabase held(db);
        for (int kind : {1, 2}) {
            for (const auto& p : db.Programs(kind)) {
                const TpRecord* t = held.Tp(p->TpIndex());
                const SatelliteRecord* s =
                    t != nullptr ? held.Satellite(t->SatelliteIndex()) : nullptr;
                std::string tpText;
                if (t != nullptr) {
                    TpRecord copy = *t;
                    copy.BuildLabel();
                    tpText = copy.label;
                }
                std::string audio;
                for (int n = 0; n < 3; ++n) {
                    const int pid = p->Audio(n) >> 3;
                    if (pid != 0) {
                        audio += (audio.empty() ? "" : " ") + std::to_string(pid);
                    }
                }
                csv += text(device.caption) + (kind == 1 ? ",TV," : ",Radio,") +
                       std::to_string(p->Index() + 1) + "," + text(p->name) + "," +
                       (s != nullptr ? text(s->Name()) : std::string()) + "," + tpText + "," +
                       (kind == 1 ? std::to_string(p->VideoPid()) : std::string()) + "," + audio +
                       "," + std::to_string(p->PcrPid()) + "," +
                       (p->TeletextPid() != 0 ? std::to_string(p->TeletextPid()) : std::string()) +
                       "," + (p->Scrambled() ? "yes" : "no") + "\r\n";
            }
        }
    }
    return csv;
}

std::string InventoryJson(const std::vector<DeviceDatabaseRef>& devices)
{
    std::string json = "[";
    bool first = true;
    for (const DeviceDatabaseRef& device : devices) {
        if (!device.database) {
            continue;
        }
        const size_t colon = device.caption.find(':');
        SnapshotHeader header;
        header.address = device.caption.substr(0, colon);
        header.name = colon == std::string::npos ? std::string() : device.caption.substr(colon + 1);
        std::string document = DatabaseJson(*device.database, header);
        while (!document.empty() && document.back() == '\n') {
            document.pop_back();
        }
        json += first ? "\n" : ",\n";
        json += document;
        first = false;
    }
    return json + "\n]\n";
}

} // namespace vireo
