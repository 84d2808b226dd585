#pragma once

#include <QIcon>
#include <QString>

namespace vireo::ui {

// Our pictures, drawn as SVG and rendered for the sizes widgets ask for.
// `name` is the file name under icons/ without ".svg". A null icon for an
// unknown name.
QIcon LoadIcon(const QString& name);

// The image lists of the program, by index:
// machine tree: 1 computer, 2 dark green, 3 blue, 4 bright green and 5 red
// badges, 6 the current mark (0 and anything else: none);
QIcon MachineImage(int index);
// main toolbar: 0 computer, 1 lightning bolt, 2 red cross, 3 circling arrows,
// 4 power symbol, 5 upgrade;
QIcon ToolbarImage(int index);
// program trees: 0 satellite, 1 transponder, 2 TV program, 3 radio program,
// 4 PID line, 5 playing with good signal, 7 upper module, 8 lower module,
// 9 playing otherwise (6: none).
QIcon ProgramImage(int index);

} // namespace vireo::ui
