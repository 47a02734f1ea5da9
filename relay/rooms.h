// Rooms: viewers meet in rooms of a fixed size (a viewer shows one other character, so two by
// default), and frames go only to the other members of the sender's room. A newcomer joins the
// oldest room with a free place, or opens a new one; a room is closed when its last member
// leaves.
#pragma once

#include <cstddef>
#include <map>
#include <set>
#include <vector>

namespace relay {

struct Client;

struct Room {
    int id = 0;
    std::vector<Client*> members;
};

struct Rooms {
    std::size_t size = 2; // members a room holds
    std::map<int, Room> rooms;
    std::set<int> open; // rooms with a free place; the oldest has the lowest id
    int nextId = 1;
};

// Puts c in a room (c.room) and returns it.
Room& join(Rooms& rooms, Client& c);
// Takes c out of its room; the members left.
std::size_t leave(Rooms& rooms, Client& c);

} // namespace relay
