# The folders of src/ from the bottom layer to the top. A file may include
# headers of its own folder and of folders listed before it, never after it.
# The core comes first; the widget folders (ui/) come after every core folder,
# so widgets may use the whole core and the core no widget. A new folder takes
# its place here; the `layers` test checks every include against this order.
set(VIREO_LAYERS
    lang       # interface texts in English and Chinese, GBK text helpers
    log        # log buffer, log files, caption and address helpers
    link       # socket, frames, queue, session: bytes and time, no records
    database   # device records, lists, completeness, program-tree model
    history    # signal history and alarms on SQLite: writer, retention, queries, rules
    upgrade    # firmware file and transfer
    device     # one device window's core: session + database + log, dispatcher, commands
    snapshot   # the device's database as a JSON document, the headless dump
    dialogs    # field logic of the network, satellite and transponder dialogs
    app        # machine registry, settings file
    fleet      # every machine at a glance: fleet rows, search across devices, inventory
    ui         # widget helpers every window uses: GBK at the boundary, message boxes, icons
    dialogs/ui # the dialogs' widgets
    snapshot/ui # save, compare and apply snapshots: commands and their dialogs
    history/ui # signal history charts, the alarms window and the alarm rules dialog
    device/ui  # the device window's widgets
    fleet/ui   # the fleet window and the search across devices
    app/ui     # the main window, start-up dialog, program entry
)
