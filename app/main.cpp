#include <cstdio>

int main()
{
    std::fputs("QorCAD 1.2.0: Das Programmfenster ist noch nicht gebaut; "
               "bisher gibt es nur den Modellierkern und seine Tests.\n",
               stderr);
    return 0;
}
