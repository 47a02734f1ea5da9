@vertex v
@vertex v
@technique T
pass vertex=v fragment=f blend=one
