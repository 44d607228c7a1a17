#pragma once

#include <QString>

// The five connection values that travel together through the program, always
// in this order. The password is plain in memory and scrambled on disk.
struct ConnectionSettings
{
    QString server;
    QString database;
    bool trusted = true; // Windows (integrated) login instead of a SQL Server login
    QString user;
    QString password;
};
