/* The simulator process: the card and client model behind a socket. */
#ifndef CARDSIM_SERVER_H
#define CARDSIM_SERVER_H

#include <string>
#include <vector>

/* Runs the server on `socket_path` until SIGTERM/SIGINT; returns the exit status. */
int cardsim_serve(const std::string &socket_path);

/* Sends one control command; returns its exit status, output in *out. */
int cardsim_ctl(const std::string &socket_path, const std::vector<std::string> &args,
                std::string *out);

#endif
