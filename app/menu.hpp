// The main menu and the loop that runs the chosen screens.
#pragma once

// Draws the menu and reads an option until it is a number from 0 to 5.
int menuPrincipal();

// Shows the menu and runs each chosen screen, until option 0.
void ejecutarMenu();
