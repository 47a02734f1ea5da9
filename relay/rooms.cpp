#include "rooms.h"

#include "clients.h"

#include <algorithm>
#include <utility>

namespace relay {

Room& join(Rooms& rooms, Client& c) {
    if (rooms.open.empty()) {
        const int id = rooms.nextId++;
        rooms.rooms[id].id = id;
        rooms.open.insert(id);
    }
    const int id = *rooms.open.begin();
    Room& room = rooms.rooms[id];
    room.members.push_back(&c);
    if (room.members.size() >= rooms.size) rooms.open.erase(id);
    c.room = &room;
    return room;
}

std::size_t leave(Rooms& rooms, Client& c) {
    Room* room = std::exchange(c.room, nullptr);
    if (!room) return 0;
    std::erase(room->members, &c);
    const std::size_t left = room->members.size();
    if (left == 0) {
        rooms.open.erase(room->id);
        rooms.rooms.erase(room->id);
    } else {
        rooms.open.insert(room->id);
    }
    return left;
}

} // namespace relay
